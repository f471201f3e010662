#pragma once

// One SCSI command for a device, and what became of it.
struct ScsiCommand {
    enum Direction { none, in, out };

    const unsigned char* block = nullptr; // the command block
    int blockSize = 0;
    Direction direction = none;
    unsigned char* data = nullptr; // in: the room for what comes; out: what goes
    int dataSize = 0;
    unsigned char* sense = nullptr; // the room for the sense data of a check condition
    int senseCapacity = 0;

    // What came back: the error of the call itself (errno, 0 when it was made), the data bytes
    // that moved, the SCSI status, the host's and the driver's status, and the sense bytes.
    int error = 0;
    int moved = 0;
    int status = 0;
    int hostStatus = 0;
    int driverStatus = 0;
    int senseSize = 0;
};

// The kernel's SCSI generic interface (SG_IO) on a device node: a command of any kind to a
// device whose driver stays bound. Kept apart from the library's other objects, as the clock
// is: the tests link a scripted stand-in in its place.
class ScsiGeneric {
public:
    // A descriptor open for reading and writing (what the sg driver wants for commands it does
    // not know), or -1 with errno telling why.
    static int open(const char* node);
    static void close(int descriptor);
    // Runs the command, waiting `timeoutMs` at most for the device. True when the call itself
    // failed (`command->error` says why); the device's own verdict is in the status fields.
    static bool execute(int descriptor, ScsiCommand* command, unsigned timeoutMs);
};
