#pragma once

#include <ctime>

// One line on standard error, redrawn in place while the parts go out: an optional label,
// parts sent of the total, the percentage, the rate and the time left. Drawn only when standard
// error is a terminal and the log level admits warnings; standard output never sees it.
// Transfers that go on at once, one per calculator, can add up into one line instead.
class TransferProgress {
public:
    // From now on, the progress of every transfer in this process adds up into one line
    // labelled with the number of calculators; endCombined() ends that line.
    static void combine(int calculators);
    static void endCombined();

    // `label` (kept, not copied) goes in front of the line, e.g. which file of several.
    TransferProgress(int partCount, long long fileSize, const char* label = "");
    // Ends the line, however the upload ended.
    ~TransferProgress();

    TransferProgress(const TransferProgress&) = delete;
    TransferProgress& operator=(const TransferProgress&) = delete;

    // Clears the line, so that log lines printed while a part goes out start clean.
    void beforePart();
    void partSent(int partsSent);

private:
    void draw(int partsSent, double elapsed);
    void addToCombined(int partsSent);

    bool enabled;
    bool inCombined = false;
    int partsCounted = 0; // already added to the combined line
    bool drawn = false;
    int partCount;
    long long fileSize;
    const char* label;
    timespec start{};
    double lastDraw = -1.0;
};
