#pragma once

#include "BusLayout.h"
#include "Report.h"

#include <chrono>
#include <string>

// A drive calculator's files and what the system did with them: its folder stands for the
// root of its file system, and the disk service's stand-in mounts it for the file system's
// block device (`seat.fileSystemDevice()`), as the options ask.
struct DriveMedium {
    Seat seat;
    std::string root; // the folder, DIR/ADDRESS
    Report* report = nullptr;
    long long capacity = 0;   // bytes, for the free space the command sees
    bool readOnly = false;    // mounted read-only
    bool refuseMount = false; // the disk service is not authorized to mount it
    bool refuseEject = false; // nor to unmount it or power it off
    // The disk service knows of it from then on, as the real one learns of a drive just
    // plugged in a moment after the kernel does.
    std::chrono::steady_clock::time_point knownFrom{};

    std::string mountPoint; // empty while not mounted
    bool onBus = true;      // until powered off
    unsigned mounts = 0;
    unsigned unmounts = 0;
    unsigned powerOffs = 0;

    std::string node() const { return "/dev/" + seat.fileSystemDevice(); }
};
