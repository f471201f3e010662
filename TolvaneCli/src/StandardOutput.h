#pragma once

#include <cstddef>
#include <string>

// The data a command prints, on standard output. Write errors are remembered and reported
// once, at the end; a reader that went away (a closed pipe) ends the output quietly.
class StandardOutput {
public:
    static void write(const void* bytes, size_t count);
    // One whole line, after the calling thread's prefix: lines printed from several threads
    // never mix.
    static void printLine(const std::string& line);
    // What lines printed from the calling thread start with (say, a calculator's address and
    // a tab).
    static void setThreadPrefix(const std::string& prefix);
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
