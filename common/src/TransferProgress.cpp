#include "TransferProgress.h"

#include "CasioDataPart.h"
#include "Log.h"

#include <cmath>
#include <cstdio>
#include <mutex>
#include <string>
#include <unistd.h>

namespace {

constexpr double redrawInterval = 0.1;
constexpr const char* clearLine = "\r\033[K";

double secondsSince(const timespec& start) {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<double>(now.tv_sec - start.tv_sec) +
           static_cast<double>(now.tv_nsec - start.tv_nsec) / 1e9;
}

// "812 B", "12.5 KiB", "3.1 MiB"
void formatBytes(double bytes, char* text, size_t size) {
    if (bytes < 1024.0) {
        snprintf(text, size, "%.0f B", bytes);
    } else if (bytes < 1024.0 * 1024.0) {
        snprintf(text, size, "%.1f KiB", bytes / 1024.0);
    } else {
        snprintf(text, size, "%.1f MiB", bytes / (1024.0 * 1024.0));
    }
}

bool drawable() {
    return isatty(STDERR_FILENO) == 1 && Log::getLoglevel() >= LOGLEVEL_WARNING;
}

// "LABELPart 3/10   30%  1.2 KiB/s  0:05 left", redrawn over the line before.
void drawLine(const char* label, long long partsSent, long long partCount, double sentBytes,
              double totalBytes, double elapsed) {
    const long long percent = partCount > 0 ? partsSent * 100 / partCount : 0;
    char rate[32] = "-- B";
    char left[32] = "--:--";
    if (elapsed > 0.0) {
        const double bytesPerSecond = sentBytes / elapsed;
        formatBytes(bytesPerSecond, rate, sizeof rate);
        if (bytesPerSecond > 0.0) {
            const long seconds = lround((totalBytes - sentBytes) / bytesPerSecond);
            snprintf(left, sizeof left, "%ld:%02ld", seconds / 60, seconds % 60);
        }
    }
    fprintf(stderr, "%s%sPart %lld/%lld  %3lld%%  %s/s  %s left", clearLine, label, partsSent,
            partCount, percent, rate, left);
    fflush(stderr);
}

// The one line of transfers that go on at once.
struct Combined {
    std::mutex mutex;
    bool on = false;
    std::string label;
    long long partsSent = 0;
    long long partCount = 0;
    timespec start{};
    double lastDraw = -1.0;
    bool drawn = false;
};

Combined combined;

} // namespace

void TransferProgress::combine(int calculators) {
    const std::lock_guard<std::mutex> lock(combined.mutex);
    combined.on = true;
    combined.label = std::to_string(calculators) + " calculators  ";
    combined.partsSent = 0;
    combined.partCount = 0;
    combined.lastDraw = -1.0;
    combined.drawn = false;
    clock_gettime(CLOCK_MONOTONIC, &combined.start);
}

void TransferProgress::endCombined() {
    const std::lock_guard<std::mutex> lock(combined.mutex);
    if (combined.drawn) {
        fputc('\n', stderr);
    }
    combined.on = false;
}

// Each transfer adds its parts as they go, and its count when it starts: the total grows as
// calculators start their next file.
void TransferProgress::addToCombined(int partsSent) {
    const std::lock_guard<std::mutex> lock(combined.mutex);
    combined.partsSent += partsSent - partsCounted;
    partsCounted = partsSent;
    const double elapsed = secondsSince(combined.start);
    if (!enabled || (combined.lastDraw >= 0 && elapsed - combined.lastDraw < redrawInterval &&
                     combined.partsSent < combined.partCount)) {
        return;
    }
    const double bytesPerPart = CasioDataPart::maxBytes;
    drawLine(combined.label.c_str(), combined.partsSent, combined.partCount,
             static_cast<double>(combined.partsSent) * bytesPerPart,
             static_cast<double>(combined.partCount) * bytesPerPart, elapsed);
    combined.lastDraw = elapsed;
    combined.drawn = true;
}

TransferProgress::TransferProgress(int partCount, long long fileSize, const char* label)
    : enabled(drawable()), partCount(partCount), fileSize(fileSize), label(label) {
    clock_gettime(CLOCK_MONOTONIC, &start);
    const std::lock_guard<std::mutex> lock(combined.mutex);
    if (combined.on) {
        combined.partCount += partCount;
        inCombined = true;
    }
}

TransferProgress::~TransferProgress() {
    if (drawn) {
        fputc('\n', stderr);
    }
}

void TransferProgress::beforePart() {
    if (drawn && Log::getLoglevel() >= LOGLEVEL_DEBUG) {
        fputs(clearLine, stderr);
    }
}

void TransferProgress::partSent(int partsSent) {
    if (inCombined) {
        addToCombined(partsSent);
        return;
    }
    if (!enabled) {
        return;
    }
    const double elapsed = secondsSince(start);
    // Thousands of parts a second would otherwise mean thousands of redraws.
    const bool due = lastDraw < 0 || elapsed - lastDraw >= redrawInterval ||
                     partsSent == partCount || Log::getLoglevel() >= LOGLEVEL_DEBUG;
    if (due) {
        draw(partsSent, elapsed);
        lastDraw = elapsed;
    }
}

void TransferProgress::draw(int partsSent, double elapsed) {
    const double sent = partsSent == partCount
                            ? fileSize
                            : static_cast<double>(partsSent) * CasioDataPart::maxBytes;
    drawLine(label, partsSent, partCount, sent, fileSize, elapsed);
    drawn = true;
}
