#pragma once

#include <ctime>

// One line on standard error, redrawn in place while the parts go out: an optional label,
// parts sent of the total, the percentage, the rate and the time left. Drawn only when standard
// error is a terminal and the log level admits warnings; standard output never sees it.
class TransferProgress {
public:
    // `label` (kept, not copied) goes in front of the line, e.g. which file of several.
    TransferProgress(int partCount, int fileSize, const char* label = "");
    // Ends the line, however the upload ended.
    ~TransferProgress();

    TransferProgress(const TransferProgress&) = delete;
    TransferProgress& operator=(const TransferProgress&) = delete;

    // Clears the line, so that log lines printed while a part goes out start clean.
    void beforePart();
    void partSent(int partsSent);

private:
    void draw(int partsSent, double elapsed);

    bool enabled;
    bool drawn = false;
    int partCount;
    int fileSize;
    const char* label;
    timespec start{};
    double lastDraw = -1.0;
};
