#pragma once

#include "DriveMedium.h"
#include "MountInfoFile.h"
#include "Options.h"
#include "Report.h"
#include "SystemBus.h"
#include "UDisksStandIn.h"
#include "UsbEmulator.h"

#include <memory>
#include <string>
#include <vector>

// What a command needs to reach the drive calculators: a system bus of its own with the disk
// service's stand-in on it (unless the options say there is none), the mounts in the testbed's
// mountinfo, and each drive's free space from its capacity. A read-only drive's folders are
// made unwritable meanwhile. Nothing at all without drives.
class DiskWorld {
public:
    // `drives` must outlive it; `report` tells what could not be set up.
    DiskWorld(const Options& options, std::vector<DriveMedium>& drives, UsbEmulator& emulator,
              Report& report);
    ~DiskWorld();

    DiskWorld(const DiskWorld&) = delete;
    DiskWorld& operator=(const DiskWorld&) = delete;

    // For the command's environment: "NAME=VALUE" each, and a library to preload.
    std::vector<std::string> variables() const;
    std::string preload() const;

    // What the disk service did with each drive, on its report.
    void reportUse() const;

private:
    void startBus(const Options& options, UsbEmulator& emulator, Report& report);

    std::vector<DriveMedium>& drives;
    MountInfoFile mountInfo;
    std::unique_ptr<SystemBus> bus;
    std::unique_ptr<UDisksStandIn> service;
    std::string busAddress;
    std::string spaces; // for the preloaded library: each drive's capacity and folder
};
