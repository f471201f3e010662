#pragma once

#include "DriveMedium.h"
#include "MountInfoFile.h"

#include <functional>
#include <memory>
#include <string>
#include <systemd/sd-bus.h>
#include <vector>

// A small stand-in for the system's disk service, UDisks2, on a private system bus: for each
// drive calculator a drive object and the block objects of its disk and file system, with the
// methods a client of the real service uses (Manager.ResolveDevice, Filesystem.Mount and
// Unmount, Drive.PowerOff, the object manager's GetManagedObjects) and the real service's
// error names. Mount answers the drive's folder and mounts nothing; a powered-off drive
// leaves the bus. It serves on the default GLib main context, which the caller runs.
class UDisksStandIn {
public:
    // Called once a drive is powered off, for it to leave the USB bus.
    using PowerOff = std::function<void(DriveMedium&)>;

    // Serves `drives`, which must outlive it, on the bus at `busAddress`, keeping `mountInfo`
    // up to date with their mounts.
    UDisksStandIn(const std::string& busAddress, std::vector<DriveMedium>& drives,
                  const MountInfoFile& mountInfo, PowerOff powerOff);
    ~UDisksStandIn();

    UDisksStandIn(const UDisksStandIn&) = delete;
    UDisksStandIn& operator=(const UDisksStandIn&) = delete;

    // Empty when it serves.
    const std::string& setUpError() const { return error; }

    // One object on the bus, and what its callbacks need.
    struct Served {
        UDisksStandIn* service;
        DriveMedium* drive;
        enum class Role { Disk, FileSystem, Drive } role;
        std::string path;
        std::vector<sd_bus_slot*> slots;
    };

    static std::string drivePath(const DriveMedium& drive);
    static std::string blockPath(const std::string& device);

    // The methods, each answering `message` or filling `error`.
    int mount(Served& served, sd_bus_message* message, sd_bus_error* error);
    int unmount(Served& served, sd_bus_message* message, sd_bus_error* error);
    int powerOff(Served& served, sd_bus_message* message, sd_bus_error* error);
    int resolve(sd_bus_message* message);
    int blockDevices(sd_bus_message* message);

private:
    bool serve();
    bool serveDrive(DriveMedium& drive);
    bool add(Served& served, const char* interface, const void* vtable);
    void mountsChanged(Served& fileSystem);
    void leave(DriveMedium& drive);
    static int onReadable(int descriptor, unsigned condition, void* self);
    void process();

    sd_bus* bus = nullptr;
    std::vector<DriveMedium>& drives;
    const MountInfoFile& mountInfo;
    PowerOff poweredOff;
    std::vector<std::unique_ptr<Served>> objects;
    std::vector<sd_bus_slot*> ownSlots;
    unsigned watch = 0;
    std::string error;
};
