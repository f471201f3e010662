#include "DriveMount.h"

#include "LinkInterrupt.h"
#include "Log.h"
#include "MountTable.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <sys/statvfs.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using Result = DiskServiceClient::Result;

// How long a drive that has just appeared may stay unknown to the disk service.
constexpr int serviceWaitSeconds = 5;

void error(const std::string& text) {
    Log::error(text.c_str());
}

} // namespace

DriveMount::~DriveMount() {
    if (opened && !finished) {
        finish(false, false);
    }
}

bool DriveMount::mountPointOf(const std::string& address, std::string* point) {
    DriveDevice found;
    MountTable::Mount mount;
    if (DriveLocator::locate(address, &found, true) || MountTable::find(found.number, "", &mount)) {
        return true;
    }
    *point = mount.point;
    return false;
}

bool DriveMount::open(const std::string& address) {
    if (DriveLocator::locate(address, &drive)) {
        return true;
    }
    const Result connected = service.connect();
    const Result resolved = connected == Result::Done ? resolveWhenKnown() : connected;
    serviceThere = resolved == Result::Done;
    MountTable::Mount mount;
    if (resolved == Result::Unknown && MountTable::find(drive.number, "", &mount)) {
        error("The disk service (UDisks2) does not know the calculator's drive " + drive.node +
              ", " + std::to_string(serviceWaitSeconds) +
              " seconds after it appeared, and it is not mounted: unplug the calculator, plug it "
              "in again and try again");
        return true;
    }
    if (resolved != Result::Done && resolved != Result::Absent) {
        Log::warning(
            ("The disk service does not help with " + drive.node + ": " + service.problem())
                .c_str());
    }
    if ((serviceThere ? mountThroughService() : useExistingMount()) || checkFolder()) {
        finish(false, false);
        return true;
    }
    opened = true;
    return false;
}

// The disk service learns of a drive a moment after the kernel does: until then it knows no
// object for its block device.
DiskServiceClient::Result DriveMount::resolveWhenKnown() {
    constexpr auto pause = std::chrono::milliseconds(200);
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::seconds(serviceWaitSeconds);
    Result resolved = service.resolve(drive.node, &block);
    while (resolved == Result::Unknown && std::chrono::steady_clock::now() < deadline &&
           !LinkInterrupt::requested()) {
        std::this_thread::sleep_for(pause);
        resolved = service.resolve(drive.node, &block);
    }
    return resolved;
}

bool DriveMount::mountThroughService() {
    std::vector<std::string> points;
    bool readOnlyDevice = false;
    if (service.mountPoints(block, &points) != Result::Done ||
        service.driveOf(block, &driveObject) != Result::Done ||
        service.isReadOnly(block, &readOnlyDevice) != Result::Done) {
        failed("can't ask the disk service about " + drive.node);
        return true;
    }
    readOnlyMount = readOnlyDevice;
    if (!points.empty()) {
        mountPoint = points.front();
        return false;
    }
    const Result mounted = service.mount(block, &mountPoint);
    if (mounted == Result::Done) {
        mountedHere = true;
        Log::info(("Mounted " + drive.node + " at " + mountPoint).c_str());
        return false;
    }
    // Mounted meanwhile, by a file manager say.
    if (service.problemName() == DiskServiceClient::alreadyMounted &&
        service.mountPoints(block, &points) == Result::Done && !points.empty()) {
        mountPoint = points.front();
        return false;
    }
    if (mounted == Result::Refused) {
        refused("mount");
    } else {
        failed("can't mount " + drive.node);
    }
    return true;
}

bool DriveMount::useExistingMount() {
    MountTable::Mount mount;
    if (MountTable::find(drive.number, "", &mount)) {
        error("The calculator's drive " + drive.node +
              " is not mounted, and there is no disk service (UDisks2) to mount it (" +
              service.problem() + "): mount it yourself, e.g. with 'sudo mount -o uid=$(id -u)," +
              "gid=$(id -g) " + drive.node + " /mnt', then run tolvane again");
        return true;
    }
    mountPoint = mount.point;
    Log::info(("No disk service: using the mount of " + drive.node + " at " + mountPoint).c_str());
    return false;
}

// The mount point must be reachable; the mount table and statvfs tell whether it is
// read-only, whatever the disk service said.
bool DriveMount::checkFolder() {
    struct statvfs status;
    if (statvfs(mountPoint.c_str(), &status) != 0) {
        error("Can't reach the calculator's files at " + mountPoint + " (" + strerror(errno) + ")");
        return true;
    }
    MountTable::Mount mount;
    const bool listed = !MountTable::find(drive.number, mountPoint, &mount);
    readOnlyMount = readOnlyMount || (status.f_flag & ST_RDONLY) != 0 || (listed && mount.readOnly);
    return false;
}

bool DriveMount::finish(bool changed, bool keepMounted) {
    if (finished) {
        return false;
    }
    finished = true;
    const bool unflushed = changed && flush();
    if (keepMounted || (!changed && !mountedHere) || mountPoint.empty()) {
        return unflushed;
    }
    return eject(changed) || unflushed;
}

// On the drive before anything else is done with it.
bool DriveMount::flush() const {
    const int folder = ::open(mountPoint.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    const bool flushed = folder >= 0 && syncfs(folder) == 0;
    if (!flushed) {
        error("Can't flush the files to the calculator's drive at " + mountPoint + " (" +
              strerror(errno) + ")");
    }
    if (folder >= 0) {
        close(folder);
    }
    return !flushed;
}

// Unmounted, and after a change powered off; without a disk service the user must do it.
bool DriveMount::eject(bool changed) {
    if (!serviceThere) {
        Log::warning(("The calculator takes the files once its drive is ejected, and there is "
                      "no disk service to do it: unmount " +
                      mountPoint + " (e.g. 'sudo umount " + mountPoint +
                      "'), then unplug the calculator")
                         .c_str());
        return false;
    }
    const Result unmounted = service.unmount(block);
    if (unmounted != Result::Done && service.problemName() != DiskServiceClient::notMounted) {
        unmounted == Result::Refused ? refused("unmount") : failed("can't unmount " + drive.node);
        return true;
    }
    Log::info(("Unmounted " + drive.node).c_str());
    if (!changed) {
        return false;
    }
    const Result poweredOff = service.powerOff(driveObject);
    if (poweredOff != Result::Done) {
        poweredOff == Result::Refused ? refused("power off")
                                      : failed("can't power off the drive " + drive.disk);
        return true;
    }
    Log::info(("Powered off " + drive.disk + ": the calculator takes the files").c_str());
    return false;
}
void DriveMount::refused(const std::string& what) const {
    error("The disk service is not authorized to " + what + " the calculator's drive " +
          drive.node + " for you (" + service.problem() +
          "), as in a remote session: run tolvane in the machine's own session, or " + what +
          " it there (e.g. 'udisksctl " +
          (what == "power off" ? "power-off -b " + drive.disk : what + " -b " + drive.node) +
          "', or the file manager)");
}

void DriveMount::failed(const std::string& what) const {
    error(what + ": " + service.problem());
}
