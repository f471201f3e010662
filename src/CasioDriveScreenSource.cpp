#include "CasioDriveScreenSource.h"

#include "LinkClock.h"
#include "LinkInterrupt.h"
#include "LinkLimits.h"
#include "Log.h"

#include <cstdio>

namespace {

ScsiCommand commandOf(const unsigned char* block, int blockSize, ScsiCommand::Direction direction,
                      unsigned char* data, int dataSize, unsigned char* sense) {
    ScsiCommand command;
    command.block = block;
    command.blockSize = blockSize;
    command.direction = direction;
    command.data = data;
    command.dataSize = dataSize;
    command.sense = sense;
    command.senseCapacity = CasioDriveScreen::senseCapacity;
    return command;
}

CasioDriveScreenEnd endOf(CasioDriveVerdict verdict) {
    switch (verdict) {
    case CasioDriveVerdict::refused:
        return CasioDriveScreenEnd::notScreenMode;
    case CasioDriveVerdict::gone:
        return CasioDriveScreenEnd::unplugged;
    case CasioDriveVerdict::forbidden:
        return CasioDriveScreenEnd::forbidden;
    default:
        return CasioDriveScreenEnd::none;
    }
}

} // namespace

CasioDriveScreenSource::~CasioDriveScreenSource() {
    close();
}

void CasioDriveScreenSource::close() {
    ScsiGeneric::close(descriptor);
    descriptor = -1;
}

bool CasioDriveScreenSource::open(const char* node) {
    close();
    nextPollMs = 0;
    pauseMs = firstPauseMs;
    silentSinceMs = -1;
    troublesInARow = 0;
    ended = CasioDriveScreenEnd::none;
    shown = CasioDriveMedium::unknown;
    seen = {0, 0, 0, 0, 0, 0, -1};
    descriptor = ScsiGeneric::open(node);
    if (descriptor < 0) {
        return true;
    }
    unsigned char block[CasioDriveScreen::testUnitReadySize];
    unsigned char sense[CasioDriveScreen::senseCapacity];
    CasioDriveScreen::testUnitReadyBlock(block);
    ScsiCommand command = commandOf(block, sizeof block, ScsiCommand::none, nullptr, 0, sense);
    ScsiGeneric::execute(descriptor, &command, LinkLimits::transferTimeoutMs);
    shown = CasioDriveScreen::mediumOf(command);
    if (CasioDriveScreen::judge(command) == CasioDriveVerdict::gone) {
        ended = CasioDriveScreenEnd::unplugged;
    }
    return false;
}

bool CasioDriveScreenSource::receive(Buffer* bytes) {
    const int room = bytes->getSize();
    bytes->setSize(0);
    const long long deadline = LinkClock::milliseconds() + receiveWindowMs;
    while (ended == CasioDriveScreenEnd::none && !LinkInterrupt::requested()) {
        if (waitForPoll(deadline)) {
            return false;
        }
        const int available = poll();
        if (available > 0) {
            return read(available < room ? available : room, bytes);
        }
    }
    return ended != CasioDriveScreenEnd::none;
}

bool CasioDriveScreenSource::answer(Buffer* bytes) {
    unsigned char block[CasioDriveScreen::blockSize];
    unsigned char sense[CasioDriveScreen::senseCapacity];
    if (ended != CasioDriveScreenEnd::none ||
        CasioDriveScreen::writeBlock(bytes->getSize(), block)) {
        return true;
    }
    ScsiCommand command =
        commandOf(block, sizeof block, ScsiCommand::out, bytes->getData(), bytes->getSize(), sense);
    if (exchange(&command)) {
        return true;
    }
    ++seen.writes;
    troublesInARow = 0;
    return false;
}

// True when the window closes before the next poll is due; it is waited for otherwise.
bool CasioDriveScreenSource::waitForPoll(long long deadline) {
    const long long now = LinkClock::milliseconds();
    if (nextPollMs <= now) {
        return false;
    }
    LinkClock::pause((nextPollMs < deadline ? nextPollMs : deadline) - now);
    return nextPollMs > deadline;
}

// The bytes the calculator offers, 0 when none (or the poll failed: it is made later again).
int CasioDriveScreenSource::poll() {
    unsigned char block[CasioDriveScreen::blockSize];
    unsigned char answer[CasioDriveScreen::pollAnswerSize];
    unsigned char sense[CasioDriveScreen::senseCapacity];
    CasioDriveScreen::pollBlock(block);
    ScsiCommand command =
        commandOf(block, sizeof block, ScsiCommand::in, answer, sizeof answer, sense);
    CasioScreenOffer offer{0, 0};
    if (exchange(&command)) {
        backOff();
        return 0;
    }
    if (CasioDriveScreen::readOffer(answer, command.moved, &offer)) {
        ++seen.troubles;
        if (++troublesInARow >= mostTroublesInARow) {
            ended = CasioDriveScreenEnd::unreadable;
        }
        backOff();
        return 0;
    }
    ++seen.polls;
    troublesInARow = 0;
    if (offer.activity != seen.activity && Log::getLoglevel() >= LOGLEVEL_DEBUG) {
        char line[64];
        snprintf(line, sizeof line, "The calc's activity status is now %04X", offer.activity);
        Log::debug(line);
    }
    seen.activity = offer.activity;
    if (offer.available == 0) {
        backOff();
        return 0;
    }
    ++seen.offers;
    pauseMs = firstPauseMs;
    nextPollMs = 0; // bytes are coming: the next poll follows the read at once
    return offer.available;
}

bool CasioDriveScreenSource::read(int count, Buffer* bytes) {
    unsigned char block[CasioDriveScreen::blockSize];
    unsigned char sense[CasioDriveScreen::senseCapacity];
    if (CasioDriveScreen::readBlock(count, block)) {
        return false;
    }
    ScsiCommand command =
        commandOf(block, sizeof block, ScsiCommand::in, bytes->getData(), count, sense);
    if (exchange(&command)) {
        backOff();
        return ended != CasioDriveScreenEnd::none;
    }
    ++seen.reads;
    troublesInARow = 0;
    seen.bytes += static_cast<unsigned long>(command.moved);
    bytes->setSize(command.moved);
    return false;
}

// True when the command was not done: the source has ended, or the command may be made again
// later, as long as the calculator has not failed or been silent too long. What it answers is
// the caller's to judge: only a command whose answer is understood ends a run of troubles.
bool CasioDriveScreenSource::exchange(ScsiCommand* command) {
    ScsiGeneric::execute(descriptor, command, LinkLimits::transferTimeoutMs);
    const CasioDriveVerdict verdict = CasioDriveScreen::judge(*command);
    const long long now = LinkClock::milliseconds();
    if (verdict == CasioDriveVerdict::done) {
        silentSinceMs = -1;
        return false;
    }
    ++seen.troubles;
    ended = endOf(verdict);
    if (verdict == CasioDriveVerdict::silent) {
        silentSinceMs = silentSinceMs < 0 ? now : silentSinceMs;
        if (now - silentSinceMs >= LinkLimits::normal.silenceMs) {
            ended = CasioDriveScreenEnd::noAnswer;
        }
    } else if (verdict == CasioDriveVerdict::again && ++troublesInARow >= mostTroublesInARow) {
        ended = CasioDriveScreenEnd::unreadable;
    }
    return true;
}

void CasioDriveScreenSource::backOff() {
    nextPollMs = LinkClock::milliseconds() + pauseMs;
    pauseMs = pauseMs * 2 < longestPauseMs ? pauseMs * 2 : longestPauseMs;
}
