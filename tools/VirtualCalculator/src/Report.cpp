#include "Report.h"

namespace {

constexpr const char prefix[] = "VirtualCalculator: ";

} // namespace

Report::Report(const std::string& path)
    : output(path.empty() ? stderr : fopen(path.c_str(), "w")), ownsOutput(!path.empty()) {}

Report::~Report() {
    if (ownsOutput && output != nullptr) {
        fclose(output);
    }
}

void Report::note(const std::string& text) {
    write(prefix + text);
}

void Report::violation(const std::string& text) {
    {
        std::lock_guard<std::mutex> lock(mutex);
        ++violationCount;
    }
    write(prefix + std::string("violation: ") + text);
}

void Report::failure(const std::string& text) {
    {
        std::lock_guard<std::mutex> lock(mutex);
        ++failureCount;
    }
    write(prefix + std::string("error: ") + text);
}

int Report::violations() const {
    std::lock_guard<std::mutex> lock(mutex);
    return violationCount;
}

int Report::failures() const {
    std::lock_guard<std::mutex> lock(mutex);
    return failureCount;
}

// Line by line and flushed, so that a report read while the host still runs is current.
void Report::write(const std::string& line) {
    std::lock_guard<std::mutex> lock(mutex);
    if (output != nullptr) {
        fprintf(output, "%s\n", line.c_str());
        fflush(output);
    }
}
