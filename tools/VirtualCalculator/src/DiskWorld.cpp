#include "DiskWorld.h"

#include <filesystem>

namespace {

// A read-only drive's folders refuse new files to a command that is not root: write
// permission is taken from the folder and the folders in it, and given back at the end. Root
// writes all the same, so the command must heed the `ro` it is shown.
void setWritable(const DriveMedium& drive, bool writable) {
    namespace fs = std::filesystem;
    std::error_code error;
    const auto change = [&](const fs::path& folder) {
        fs::permissions(folder, fs::perms::owner_write | fs::perms::group_write,
                        writable ? fs::perm_options::add : fs::perm_options::remove, error);
    };
    for (const fs::directory_entry& entry : fs::directory_iterator(drive.root, error)) {
        if (entry.is_directory(error) && !entry.is_symlink(error)) {
            change(entry.path());
        }
    }
    change(drive.root);
}

} // namespace

DiskWorld::DiskWorld(const Options& options, std::vector<DriveMedium>& drives,
                     UsbEmulator& emulator, Report& report)
    : drives(drives), mountInfo(emulator.rootDirectory()) {
    if (drives.empty()) {
        return;
    }
    if (!mountInfo.write(drives)) {
        report.failure("can't write the testbed's mountinfo");
    }
    for (const DriveMedium& drive : drives) {
        if (drive.readOnly) {
            setWritable(drive, false);
        }
        spaces +=
            std::to_string(drive.capacity) + (drive.readOnly ? " 1 " : " 0 ") + drive.root + "\n";
    }
    busAddress = "unix:path=" + emulator.rootDirectory() + "/no-system-bus";
    if (!options.noSystemBus) {
        startBus(options, emulator, report);
    }
}

DiskWorld::~DiskWorld() {
    service.reset();
    for (const DriveMedium& drive : drives) {
        if (drive.readOnly) {
            setWritable(drive, true);
        }
    }
}

std::vector<std::string> DiskWorld::variables() const {
    if (drives.empty()) {
        return {};
    }
    return {"DBUS_SYSTEM_BUS_ADDRESS=" + busAddress, "VIRTUAL_CALCULATOR_DRIVES=" + spaces};
}

std::string DiskWorld::preload() const {
    return drives.empty() ? "" : DRIVE_SPACE_PRELOAD;
}

void DiskWorld::reportUse() const {
    for (const DriveMedium& drive : drives) {
        drive.report->note("the disk service mounted it " + std::to_string(drive.mounts) +
                           " times, unmounted it " + std::to_string(drive.unmounts) +
                           " times and powered it off " + std::to_string(drive.powerOffs) +
                           " times");
    }
}

void DiskWorld::startBus(const Options& options, UsbEmulator& emulator, Report& report) {
    bus = std::make_unique<SystemBus>();
    if (!bus->setUpError().empty()) {
        report.failure(bus->setUpError());
        return;
    }
    busAddress = bus->address();
    if (options.noDiskService) {
        return;
    }
    service = std::make_unique<UDisksStandIn>(
        busAddress, drives, mountInfo,
        [&emulator](DriveMedium& drive) { emulator.removeDrive(drive.seat); });
    if (!service->setUpError().empty()) {
        report.failure(service->setUpError());
    }
}
