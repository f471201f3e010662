#pragma once

#include "ProjectorPlan.h"
#include "Report.h"
#include "UsbPeer.h"

#include <chrono>
#include <functional>

// A calculator in its projector mode: once the device is opened it sends frames of its screen,
// one picture over and over, at the plan's rate, unasked; with the check, it first repeats the
// check at that rate until the host answers it. A frame goes out in as few IN transfers as the
// host's buffers allow (`chunk` bytes at most each, when given), and the next is due a frame's
// time after the previous one began, never queued behind a host that reads late. The host is to
// send nothing but the check's answer; anything else is a violation.
class Projector : public UsbPeer {
public:
    using Clock = std::chrono::steady_clock;
    using Now = std::function<Clock::time_point()>;

    Projector(const ProjectorPlan& plan, const screenwire::Picture& picture, size_t chunk,
              Report& report, Now now = Clock::now);

    // The calculator goes on whoever opens it; the first opening starts it.
    void deviceOpened() override;
    void received(const Bytes& bytes) override;
    void inTransferStarted() override {}
    std::optional<Bytes> nextAnswer(size_t maxLength) override;
    void inTransferAbandoned() override {}
    bool unplugged() const override { return gone; }
    void hostGone() override;

private:
    // The check or the next frame, spoiled as planned; false when nothing more is to go.
    bool prepareNext();
    void finished();
    Bytes strayBytes(size_t count) const;

    ProjectorPlan plan;
    Bytes frame;
    size_t chunk;
    Report& report;
    Now now;
    Clock::duration interval;
    bool started = false;
    Clock::time_point nextDue;
    Bytes outgoing;
    size_t given = 0; // bytes of `outgoing` already out
    bool outgoingIsFrame = false;
    unsigned long framesBegun = 0;
    unsigned long framesSent = 0;
    unsigned long framesLost = 0; // on its own clock, while the host had not taken the one before
    unsigned long checksSent = 0;
    unsigned long answers = 0;
    Bytes fromHost; // the start of an answer not complete yet
    bool gone = false;
};
