#include "Report.h"

#include <unistd.h>

namespace {

constexpr const char prefix[] = "VirtualCalculator: ";
// Back to the start of the line, and clear it.
constexpr const char clearLine[] = "\r\033[K";

} // namespace

// On a terminal the command may have left a line unfinished, such as the uploader's
// progress line, which it redraws in place: a note takes that line instead of running on
// from its end.
Report::Report(const std::string& path)
    : output(path.empty() ? stderr : fopen(path.c_str(), "w")), ownsOutput(!path.empty()),
      lineStart(output != nullptr && isatty(fileno(output)) == 1 ? clearLine : "") {}

Report::Report(Report& whole, std::string label)
    : whole(&whole), label(std::move(label)), output(nullptr), ownsOutput(false), lineStart("") {}

Report::~Report() {
    if (ownsOutput && output != nullptr) {
        fclose(output);
    }
}

void Report::note(const std::string& text) {
    if (whole != nullptr) {
        whole->note(label + ": " + text);
        return;
    }
    write(prefix + text);
}

void Report::violation(const std::string& text) {
    if (whole != nullptr) {
        whole->violation(label + ": " + text);
        return;
    }
    {
        std::lock_guard<std::mutex> lock(mutex);
        ++violationCount;
    }
    write(prefix + std::string("violation: ") + text);
}

void Report::failure(const std::string& text) {
    if (whole != nullptr) {
        whole->failure(label + ": " + text);
        return;
    }
    {
        std::lock_guard<std::mutex> lock(mutex);
        ++failureCount;
    }
    write(prefix + std::string("error: ") + text);
}

int Report::violations() const {
    if (whole != nullptr) {
        return whole->violations();
    }
    std::lock_guard<std::mutex> lock(mutex);
    return violationCount;
}

int Report::failures() const {
    if (whole != nullptr) {
        return whole->failures();
    }
    std::lock_guard<std::mutex> lock(mutex);
    return failureCount;
}

// Line by line and flushed, so that a report read while the host still runs is current.
void Report::write(const std::string& line) {
    std::lock_guard<std::mutex> lock(mutex);
    if (output != nullptr) {
        fprintf(output, "%s%s\n", lineStart, line.c_str());
        fflush(output);
    }
}
