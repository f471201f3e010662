#include "Projector.h"

#include <algorithm>

namespace {

// Stray bytes that look like the start of something: a reader must not be fooled into waiting.
const Bytes lure = {0x0B, 'T', 'Y', 'P', 'Z',  '1',  '0',  '0',
                    0x16, 'C', 'A', 'L', 0x00, 0xFF, 0x0B, 'T'};

} // namespace

Projector::Projector(const ProjectorPlan& plan, const screenwire::Picture& picture, size_t chunk,
                     Report& report, Now now)
    : plan(plan), frame(screenwire::frame(plan.kind, plan.format, picture)), chunk(chunk),
      report(report), now(std::move(now)),
      interval(std::chrono::duration_cast<Clock::duration>(
          std::chrono::duration<double>(1.0 / plan.framesPerSecond))) {}

void Projector::deviceOpened() {
    if (!started) {
        started = true;
        nextDue = now();
    }
}

void Projector::received(const Bytes& bytes) {
    fromHost.insert(fromHost.end(), bytes.begin(), bytes.end());
    const Bytes answer = screenwire::checkAnswer();
    while (fromHost.size() >= answer.size()) {
        const Bytes piece(fromHost.begin(), fromHost.begin() + static_cast<long>(answer.size()));
        if (piece != answer) {
            report.violation("the host sent bytes other than the check's answer: " +
                             wire::hexDump(fromHost));
            fromHost.clear();
            return;
        }
        fromHost.erase(fromHost.begin(), fromHost.begin() + static_cast<long>(answer.size()));
        if (++answers > checksSent) {
            report.violation("the host answered a check that was never sent");
        }
    }
}

std::optional<Bytes> Projector::nextAnswer(size_t maxLength) {
    if (gone || !started) {
        return std::nullopt;
    }
    if (given == outgoing.size() && (now() < nextDue || !prepareNext())) {
        return std::nullopt;
    }
    size_t length = std::min(maxLength, outgoing.size() - given);
    if (chunk > 0) {
        length = std::min(length, chunk);
    }
    const auto begin = outgoing.begin() + static_cast<long>(given);
    Bytes bytes(begin, begin + static_cast<long>(length));
    given += length;
    if (given == outgoing.size()) {
        finished();
    }
    return bytes;
}

bool Projector::prepareNext() {
    const Clock::time_point time = now();
    while (plan.ownClock && time >= nextDue + interval) {
        nextDue += interval;
        ++framesLost;
    }
    nextDue = plan.ownClock ? nextDue + interval : time + interval;
    outgoing.clear();
    given = 0;
    outgoingIsFrame = false;
    if (plan.check && answers == 0) {
        ++checksSent;
        outgoing = screenwire::check();
        return true;
    }
    if (plan.frames && framesBegun >= *plan.frames) {
        return false;
    }
    const unsigned long number = ++framesBegun;
    const std::string place = "frame " + std::to_string(number);
    if (plan.strayBefore.count(number) > 0) {
        outgoing = strayBytes(plan.strayBefore[number]);
        report.note("fault: " + std::to_string(outgoing.size()) + " stray bytes before " + place);
    }
    Bytes spoiled = frame;
    if (plan.damaged.count(number) > 0) {
        spoiled[spoiled.size() / 2] ^= 0x5A;
        report.note("fault: " + place + " damaged");
    }
    if (plan.cut.count(number) > 0) {
        const size_t kept = plan.cut[number] == cutKeepsHalf ? frame.size() / 2 : plan.cut[number];
        spoiled.resize(std::min(kept, frame.size() - 1));
        report.note("fault: " + place + " cut to " + std::to_string(spoiled.size()) + " of " +
                    std::to_string(frame.size()) + " bytes");
    }
    outgoing.insert(outgoing.end(), spoiled.begin(), spoiled.end());
    outgoingIsFrame = true;
    return true;
}

void Projector::finished() {
    if (!outgoingIsFrame) {
        return;
    }
    ++framesSent;
    if (plan.unplugAfter > 0 && framesSent == plan.unplugAfter) {
        gone = true;
        report.note("unplugged after " + std::to_string(framesSent) + " frames");
    }
}

Bytes Projector::strayBytes(size_t count) const {
    Bytes bytes;
    while (bytes.size() < count) {
        bytes.insert(bytes.end(), lure.begin(),
                     lure.begin() + static_cast<long>(std::min(lure.size(), count - bytes.size())));
    }
    return bytes;
}

void Projector::hostGone() {
    if (!fromHost.empty()) {
        report.violation("the host left an answer unfinished: " + wire::hexDump(fromHost));
        fromHost.clear();
    }
    report.note("sent " + std::to_string(framesSent) + " frames and " + std::to_string(checksSent) +
                " checks; the host answered " + std::to_string(answers) + " times");
    if (plan.ownClock) {
        report.note("frames lost while the host had not taken the one before: " +
                    std::to_string(framesLost));
    }
}
