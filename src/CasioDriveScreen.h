#pragma once

#include "ScsiGeneric.h"

// What a drive calculator's answer to the poll offers.
struct CasioScreenOffer {
    int available; // bytes of the screen's stream ready to be read
    int activity;  // its "activity status": what the values mean is not known, so it is only kept
};

// How a drive calculator took a command, as the call, its status and its sense data tell.
enum class CasioDriveVerdict {
    done,      // taken
    again,     // not now (busy, a unit attention, a transport error it may get over)
    silent,    // no answer in time
    refused,   // a command it does not take (illegal request): a mode without its screen
    gone,      // it left the bus
    forbidden, // the system would not pass the command (permission)
};

// Whether the drive shows a medium, as its answer to TEST UNIT READY tells.
enum class CasioDriveMedium { unknown, absent, present };

// The vendor SCSI commands in which a drive calculator (07cf:6102, 07cf:6103) carries its
// screen in its ScreenRecv and Projector modes: the same frames as a link calculator's
// projector mode, offered by a poll (C0), read (C1), and the check answered by a write (C2).
// Every block is 16 bytes, 16-bit fields big-endian.
class CasioDriveScreen {
public:
    static constexpr int blockSize = 16;
    static constexpr int pollAnswerSize = 16;
    static constexpr int largestCount = 0xFFFF;
    static constexpr int senseCapacity = 32;
    static constexpr int testUnitReadySize = 6;

    // C0: how many bytes are ready; 16 bytes of data in.
    static void pollBlock(unsigned char* block);
    // C1 and C2 of `count` bytes (data in, data out); true when `count` is not 1 to 65535.
    static bool readBlock(int count, unsigned char* block);
    static bool writeBlock(int count, unsigned char* block);
    static void testUnitReadyBlock(unsigned char* block);

    // The poll's answer: 16 bytes, D0 first, the bytes ready at 6, the activity status at 10.
    // True when `size` bytes are not such an answer.
    static bool readOffer(const unsigned char* answer, int size, CasioScreenOffer* offer);
    static CasioDriveVerdict judge(const ScsiCommand& command);
    static CasioDriveMedium mediumOf(const ScsiCommand& testUnitReady);
};
