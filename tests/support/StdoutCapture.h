#pragma once

#include <string>

// Redirects the process's standard output (file descriptor 1, so printf and putchar
// alike) into a temporary file until `finish` returns what was written.
class StdoutCapture {
public:
    StdoutCapture();
    ~StdoutCapture();

    StdoutCapture(const StdoutCapture&) = delete;
    StdoutCapture& operator=(const StdoutCapture&) = delete;

    std::string finish();

private:
    int savedStdout = -1;
    int captureFd = -1;
};
