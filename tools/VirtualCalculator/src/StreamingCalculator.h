#pragma once

#include "Report.h"
#include "UsbPeer.h"

#include <chrono>
#include <optional>
#include <string>
#include <vector>

// One step of a talking calculator's script: send the next bytes of the stream, stay
// silent a while, or leave the bus a while and come back as a freshly plugged device.
struct StreamStep {
    enum Kind { Send, Pause, Unplug } kind = Send;
    size_t bytes = 0;
    std::chrono::milliseconds duration{0};
};

// "N,pause:S,unplug:S,..." (S in seconds, fractions allowed); nothing when malformed.
std::optional<std::vector<StreamStep>> parseStreamPlan(const std::string& text);

// A calculator that only talks, as when an add-in prints: once the device is opened, the
// bytes of a file go out on the IN endpoint in transfers of at most `chunk` bytes each,
// following the plan, then whatever the plan left; then it falls silent. The host is
// expected to send nothing.
class StreamingCalculator : public UsbPeer {
public:
    StreamingCalculator(Bytes stream, size_t chunk, Report& report,
                        std::vector<StreamStep> plan = {});

    // The stream goes out once, whoever opens the device: after a replug it goes on.
    void deviceOpened() override {}
    void received(const Bytes& bytes) override;
    void inTransferStarted() override {}
    std::optional<Bytes> nextAnswer(size_t maxLength) override;
    void inTransferAbandoned() override {}
    bool unplugged() const override;
    void hostGone() override;

private:
    using Clock = std::chrono::steady_clock;

    // How many bytes may go out now; moves through pauses and unplugs that have ended.
    size_t allowance();

    Bytes stream;
    size_t chunk;
    size_t sent = 0;
    Report& report;
    std::vector<StreamStep> plan;
    size_t step = 0;
    size_t sentInStep = 0;
    std::optional<Clock::time_point> stepEnds; // of the pause or unplug under way
};
