#pragma once

#include "Projector.h"
#include "Report.h"

#include <memory>

// A drive calculator's SCSI commands, as they reach its SCSI generic node: those a host may
// send any disk (INQUIRY, TEST UNIT READY, REQUEST SENSE), and in its ScreenRecv and Projector
// modes the screen's vendor commands, answered from a projector's frames: the poll (C0) offers
// what one IN transfer of the projector would carry, at most 65,535 bytes, the read (C1) takes
// it, and the write (C2) brings the check's answer. In that mode the drive shows no medium. In
// its USB Flash mode (no projector) it shows its disk and refuses the vendor commands, as a
// disk refuses a command it does not know. Any other command is a violation, and so is a read
// of more than was offered or data that disagree with the block's count.
class ScsiDrive {
public:
    enum class Direction { None, In, Out };

    struct Command {
        Bytes block;
        Direction direction = Direction::None;
        Bytes dataOut;
        size_t dataInLength = 0;
    };

    struct Answer {
        explicit Answer(Bytes dataIn = {}, uint8_t status = 0, Bytes sense = {})
            : dataIn(std::move(dataIn)), status(status), sense(std::move(sense)) {}

        Bytes dataIn; // at most the length asked for; fewer leave a residue
        uint8_t status;
        Bytes sense; // fixed format, with a check condition
    };

    // Without a projector: a drive in its USB Flash mode.
    ScsiDrive(std::unique_ptr<Projector> projector, Report& report);

    void deviceOpened();
    Answer execute(const Command& command);
    // Once the projector left the bus and the host has read what it had offered.
    bool unplugged() const;
    void hostGone();

private:
    Answer screenCommand(const Command& command);
    Answer poll(const Command& command);
    Answer read(const Command& command, size_t count);
    Answer write(const Command& command, size_t count);
    Answer refusal(uint8_t key, uint8_t code);
    Answer inquiry(const Command& command) const;

    std::unique_ptr<Projector> projector;
    Report& report;
    Bytes pending;      // offered or to be offered, from the projector
    size_t offered = 0; // of it, what the last poll offered and was not read yet
    Bytes lastSense;
    unsigned long polls = 0, offers = 0, reads = 0, bytesRead = 0, writes = 0;
    unsigned long inquiries = 0, unitReadies = 0, senseRequests = 0, refused = 0;
};
