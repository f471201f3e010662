#pragma once

#include <string>
#include <sys/types.h>

// A drive calculator's file system as the kernel shows it: the block device that holds it (a
// partition, or the whole disk) and what udev tells of it.
struct DriveDevice {
    std::string node;    // "/dev/sdb1": the block device with the file system
    std::string disk;    // "/dev/sdb": the whole disk
    dev_t number = 0;    // the file system's device number, as mountinfo shows it
    std::string type;    // "vfat"
    std::string version; // "FAT16"
    std::string label;
    std::string uuid;
};

// Finds a drive calculator's file system through udev: among the block devices whose USB
// parent is the calculator, the first partition with a file system, else the disk itself when
// the file system covers it.
class DriveLocator {
public:
    // `address` as the calculators are listed: "1-4.2", or "BUS:DEVICE" where the system
    // cannot tell the port path. True when no such calculator is attached or it shows no
    // file system, after saying why unless `quiet`.
    static bool locate(const std::string& address, DriveDevice* device, bool quiet = false);
};
