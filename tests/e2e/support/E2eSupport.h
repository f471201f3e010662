#pragma once

#include <string>
#include <vector>

// What a program left behind: its exit status (128+N for signal N), its standard output
// byte for byte, and its standard error.
struct RunResult {
    int status = -1;
    std::string out;
    std::string err;
    bool timedOut = false;
    double seconds = 0;
};

// Runs `argv` (a path, not looked up) in `directory` with standard input closed and
// TMPDIR pointing there, capturing both output streams. After `limitSeconds` the program
// is sent SIGTERM, then SIGKILL.
RunResult runCaptured(const std::vector<std::string>& argv, const std::string& directory,
                      int limitSeconds = 100);

// Like runCaptured, but with standard output and error on one pseudo-terminal, as in an
// interactive shell: `out` holds the bytes the terminal received ("\n" arrives as "\r\n").
RunResult runOnTerminal(const std::vector<std::string>& argv, const std::string& directory);

// `VirtualCalculator OPTIONS -- COMMAND` in `directory`.
RunResult runOnCalculator(const std::vector<std::string>& options,
                          const std::vector<std::string>& command, const std::string& directory);

// A sanitized build reports memory and undefined-behaviour errors on standard error.
bool sanitizerReported(const RunResult& run);

// The report lines that mark the host's violations.
std::vector<std::string> violationsIn(const std::string& report);

// A fresh directory under the system's temporary directory, removed with its contents.
class TemporaryDirectory {
public:
    TemporaryDirectory();
    ~TemporaryDirectory();
    TemporaryDirectory(const TemporaryDirectory&) = delete;
    TemporaryDirectory& operator=(const TemporaryDirectory&) = delete;

    const std::string& path() const { return root; }
    std::string operator/(const std::string& name) const { return root + "/" + name; }

private:
    std::string root;
};

void writeFile(const std::string& path, const std::string& bytes);
// Empty when the file cannot be read.
std::string readFile(const std::string& path);
bool fileExists(const std::string& path);
// Every regular file below `directory`, as paths relative to it, sorted.
std::vector<std::string> filesBelow(const std::string& directory);

bool endsWith(const std::string& text, const std::string& end);
bool contains(const std::string& text, const std::string& part);
// How often `part` occurs in `text`, overlaps included.
size_t count(const std::string& text, const std::string& part);

// `size` bytes holding every byte value, those that travel escaped included.
std::string patternBytes(size_t size, unsigned seed = 1);
