#pragma once

#include <cstddef>
#include <string>

// The data a command prints, on standard output. Write errors are remembered and reported
// once, at the end; a reader that went away (a closed pipe) ends the output quietly.
class StandardOutput {
public:
    static void write(const void* bytes, size_t count);
    static void printLine(const std::string& line);
    // Hands what was written on at once; false once writing has failed.
    static bool flush();
    // Whether a write has failed, the reader having gone away included: a command stops
    // producing data then.
    static bool failed();
    // Whether the only failure is that the reader went away (a closed pipe), which ends a
    // stream quietly.
    static bool readerGone();
    // Flushes; false after reporting a write error.
    static bool finish();
};
