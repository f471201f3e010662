#pragma once

#include <cstdio>
#include <mutex>
#include <string>

// What the virtual calculator tells the person running it, one line each: notes, the
// host's violations of the protocol, and its own failures. Written from the USB worker
// thread and the main thread alike.
class Report {
public:
    // An empty path reports on standard error.
    explicit Report(const std::string& path);
    // The report of one calculator among several: its lines name it with `label`, and its
    // violations and failures count in `whole`.
    Report(Report& whole, std::string label);
    ~Report();

    Report(const Report&) = delete;
    Report& operator=(const Report&) = delete;

    bool opened() const { return whole != nullptr || output != nullptr; }

    void note(const std::string& text);
    void violation(const std::string& text);
    void failure(const std::string& text);

    int violations() const;
    int failures() const;

private:
    void write(const std::string& line);

    Report* whole = nullptr;
    std::string label;
    FILE* output;
    bool ownsOutput;
    const char* lineStart;
    int violationCount = 0;
    int failureCount = 0;
    mutable std::mutex mutex;
};
