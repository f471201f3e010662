#pragma once

#include "DiskServiceClient.h"
#include "DriveLocator.h"

#include <string>

// A drive calculator's file system, mounted for a command: the mount that is there already,
// or one the system's disk service (UDisks2) makes. Without a disk service, only a mount that
// /proc/self/mountinfo shows will do. When the command is done, `finish` leaves the drive as
// the calculator needs it:
//
//     DriveMount drive;
//     if (drive.open(address)) return 1;
//     ... work in drive.folder(), no writes when drive.readOnly() ...
//     return drive.finish(changed, keepMounted) ? 1 : 0;
//
// Like the library, it returns true on failure.
class DriveMount {
public:
    DriveMount() = default;
    // Not finished (a command that failed half way): as after a read.
    ~DriveMount();

    DriveMount(const DriveMount&) = delete;
    DriveMount& operator=(const DriveMount&) = delete;

    // Where the drive calculator at `address` is mounted, as the mount table shows it, without
    // mounting anything or saying anything: for a listing of the calculators. True when it is
    // not mounted, or its file system cannot be found.
    static bool mountPointOf(const std::string& address, std::string* point);

    // Finds the drive calculator at `address` (as the calculators are listed) and a folder
    // where its file system is mounted. True, after saying why and what to do, when there is
    // none. A drive plugged in a moment ago that the disk service does not know yet is waited
    // for, a few seconds at most.
    bool open(const std::string& address);

    const std::string& folder() const { return mountPoint; }
    // Mounted read-only: nothing can be written or deleted.
    bool readOnly() const { return readOnlyMount; }
    const DriveDevice& device() const { return drive; }

    // After a change (`changed`): the files flushed to the drive, then, unless `keepMounted`,
    // the file system unmounted and the drive powered off, so that the calculator leaves its
    // USB mode and takes them. After a read: unmounted only when this mount made it, and not
    // `keepMounted`. True, after saying why, when that could not be done.
    bool finish(bool changed, bool keepMounted);

private:
    DiskServiceClient::Result resolveWhenKnown();
    bool mountThroughService();
    bool useExistingMount();
    bool checkFolder();
    bool eject(bool changed);
    bool flush() const;
    void refused(const std::string& what) const;
    void failed(const std::string& what) const;

    DriveDevice drive;
    DiskServiceClient service;
    bool serviceThere = false;
    std::string block; // the file system's object at the disk service
    std::string driveObject;
    std::string mountPoint;
    bool mountedHere = false;
    bool readOnlyMount = false;
    bool opened = false;
    bool finished = false;
};
