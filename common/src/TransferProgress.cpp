#include "TransferProgress.h"

#include "CasioDataPart.h"
#include "Log.h"

#include <cmath>
#include <cstdio>
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

} // namespace

TransferProgress::TransferProgress(int partCount, int fileSize, const char* label)
    : enabled(isatty(STDERR_FILENO) == 1 && Log::getLoglevel() >= LOGLEVEL_WARNING),
      partCount(partCount), fileSize(fileSize), label(label) {
    clock_gettime(CLOCK_MONOTONIC, &start);
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
    const int percent = partsSent * 100 / partCount;
    char rate[32] = "-- B";
    char left[32] = "--:--";
    if (elapsed > 0.0) {
        const double bytesPerSecond = sent / elapsed;
        formatBytes(bytesPerSecond, rate, sizeof rate);
        if (bytesPerSecond > 0.0) {
            const long seconds = lround((fileSize - sent) / bytesPerSecond);
            snprintf(left, sizeof left, "%ld:%02ld", seconds / 60, seconds % 60);
        }
    }
    fprintf(stderr, "%s%sPart %d/%d  %3d%%  %s/s  %s left", clearLine, label, partsSent, partCount,
            percent, rate, left);
    fflush(stderr);
    drawn = true;
}
