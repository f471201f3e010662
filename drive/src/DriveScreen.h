#pragma once

#include "CasioDriveScreenSource.h"

#include <string>

// Where a drive calculator's screen is read from: the node its vendor commands go to, found
// through udev below the calculator's USB device.
struct DriveScreenNode {
    std::string path; // "/dev/sg1"
    // The calculator's SCSI generic node; false: its disk's block node, the only one there is
    // where the sg module is not loaded, through which only root may send the screen's commands.
    bool generic = true;
};

// Reaching the screen of a drive calculator in its ScreenRecv or Projector mode, usb-storage
// still bound: through the SCSI generic interface, never by taking the device from its driver.
class DriveScreen {
public:
    // `address` as the calculators are listed: "1-4.2", or "BUS:DEVICE". True when no such
    // calculator is attached or it shows no SCSI device yet; `quiet`: without saying why.
    static bool locate(const std::string& address, DriveScreenNode* node, bool quiet = false);
    // Locates the node and opens `source` on it. True on failure, after saying why and, when
    // permission is lacking, what to do.
    static bool open(const std::string& address, CasioDriveScreenSource* source);
};
