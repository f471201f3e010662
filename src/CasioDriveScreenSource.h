#pragma once

#include "CasioDriveScreen.h"
#include "CasioScreenSource.h"

// Why a drive calculator's screen can no longer be read.
enum class CasioDriveScreenEnd {
    none,
    notScreenMode, // it refuses the screen's commands: it is in its USB Flash mode, say
    unplugged,
    noAnswer,   // its commands went unanswered for LinkLimits::normal.silenceMs
    forbidden,  // the system does not pass the commands: permission (a disk's node needs root)
    unreadable, // LinkLimits' count of commands in a row failed, or got answers not understood
};

// What the source did, for a user told why no picture came and for the tests.
struct CasioDriveScreenCounts {
    unsigned long polls;    // C0 answered
    unsigned long offers;   // of those, offering bytes
    unsigned long reads;    // C1 done
    unsigned long bytes;    // read by them
    unsigned long writes;   // C2 done
    unsigned long troubles; // commands not done, and poll answers not understood
    int activity;           // the last activity status, -1 before the first
};

// The screen of a drive calculator in its ScreenRecv or Projector mode, through the SCSI generic
// interface, with usb-storage still bound. Each receive polls (C0) and reads (C1) at most what
// the poll offered, at once while bytes come; while nothing is offered it polls at a bounded
// rate that backs off from `firstPauseMs` to `longestPauseMs`, and gives up the receive after
// `receiveWindowMs` with nothing, which is no error. The check's answer goes back by C2.
class CasioDriveScreenSource final : public CasioScreenSource {
public:
    static constexpr int firstPauseMs = 2;
    static constexpr int longestPauseMs = 40;
    static constexpr int receiveWindowMs = 250;
    static constexpr int mostTroublesInARow = 10;

    CasioDriveScreenSource() = default;
    ~CasioDriveScreenSource();
    CasioDriveScreenSource(const CasioDriveScreenSource&) = delete;
    CasioDriveScreenSource& operator=(const CasioDriveScreenSource&) = delete;

    // Opens the calculator's SCSI generic node (or its disk's block node), afresh, and asks
    // whether it shows a medium. True, with errno telling why (EACCES: permission), when it cannot
    // be opened.
    bool open(const char* node);
    bool receive(Buffer* bytes) override;
    bool answer(Buffer* bytes) override;

    CasioDriveScreenEnd end() const { return ended; }
    // In its USB Flash mode a drive shows its file system; in a screen mode it may show none.
    CasioDriveMedium medium() const { return shown; }
    const CasioDriveScreenCounts& counts() const { return seen; }

private:
    bool waitForPoll(long long deadline);
    int poll();
    bool read(int count, Buffer* bytes);
    bool exchange(ScsiCommand* command);
    void backOff();
    void close();

    int descriptor = -1;
    long long nextPollMs = 0;
    int pauseMs = firstPauseMs;
    long long silentSinceMs = -1; // -1 while the calculator answers
    int troublesInARow = 0;
    CasioDriveScreenEnd ended = CasioDriveScreenEnd::none;
    CasioDriveMedium shown = CasioDriveMedium::unknown;
    CasioDriveScreenCounts seen = {0, 0, 0, 0, 0, 0, -1};
};
