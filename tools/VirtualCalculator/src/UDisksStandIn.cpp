#include "UDisksStandIn.h"

#include <cerrno>
#include <glib-unix.h>
#include <glib.h>
#include <sys/sysmacros.h>

namespace {

constexpr const char serviceName[] = "org.freedesktop.UDisks2";
constexpr const char rootPath[] = "/org/freedesktop/UDisks2";
constexpr const char managerPath[] = "/org/freedesktop/UDisks2/Manager";
constexpr const char managerInterface[] = "org.freedesktop.UDisks2.Manager";
constexpr const char blockInterface[] = "org.freedesktop.UDisks2.Block";
constexpr const char fileSystemInterface[] = "org.freedesktop.UDisks2.Filesystem";
constexpr const char driveInterface[] = "org.freedesktop.UDisks2.Drive";
constexpr const char alreadyMounted[] = "org.freedesktop.UDisks2.Error.AlreadyMounted";
constexpr const char notMounted[] = "org.freedesktop.UDisks2.Error.NotMounted";
constexpr const char deviceBusy[] = "org.freedesktop.UDisks2.Error.DeviceBusy";
constexpr const char notAuthorized[] = "org.freedesktop.UDisks2.Error.NotAuthorizedCanObtain";
constexpr const char version[] = "2.9.4";

using Served = UDisksStandIn::Served;

Served& servedOf(void* userdata) {
    return *static_cast<Served*>(userdata);
}

// Object paths take letters, digits and '_' only.
std::string pathElement(const std::string& text) {
    std::string element;
    for (char character : text) {
        element += g_ascii_isalnum(character) ? character : '_';
    }
    return element;
}

int appendBytes(sd_bus_message* reply, const std::string& text) {
    return sd_bus_message_append_array(reply, 'y', text.c_str(), text.size() + 1);
}

// A block device's file name ("sdb1") and numbers, as the object serves it.
struct BlockView {
    std::string name;
    Seat::BlockNumbers numbers;
    bool fileSystem;
};

BlockView viewOf(const Served& served) {
    const Seat& seat = served.drive->seat;
    const bool fileSystem = served.role == Served::Role::FileSystem;
    const bool partition = fileSystem && !seat.wholeDisk;
    return {partition ? seat.disk + "1" : seat.disk, seat.blockNumbers(partition ? 1 : 0),
            fileSystem};
}

int blockProperty(sd_bus* /*bus*/, const char* /*path*/, const char* /*interface*/,
                  const char* property, sd_bus_message* reply, void* userdata,
                  sd_bus_error* /*error*/) {
    const Served& served = servedOf(userdata);
    const DriveMedium& drive = *served.drive;
    const BlockView view = viewOf(served);
    const std::string name = property;
    if (name == "Device" || name == "PreferredDevice") {
        return appendBytes(reply, "/dev/" + view.name);
    }
    if (name == "Symlinks") {
        return sd_bus_message_append(reply, "aay", 0);
    }
    if (name == "DeviceNumber") {
        return sd_bus_message_append(
            reply, "t", static_cast<uint64_t>(makedev(view.numbers.major, view.numbers.minor)));
    }
    if (name == "Size") {
        return sd_bus_message_append(reply, "t", static_cast<uint64_t>(drive.capacity));
    }
    if (name == "ReadOnly") {
        return sd_bus_message_append(reply, "b", drive.readOnly);
    }
    if (name == "Drive") {
        return sd_bus_message_append(reply, "o", UDisksStandIn::drivePath(drive).c_str());
    }
    if (name == "HintPartitionable") {
        return sd_bus_message_append(reply, "b", !view.fileSystem);
    }
    if (name == "HintAuto") {
        return sd_bus_message_append(reply, "b", true);
    }
    if (name == "HintSystem" || name == "HintIgnore") {
        return sd_bus_message_append(reply, "b", false);
    }
    const std::string text = name == "IdUsage"     ? (view.fileSystem ? "filesystem" : "")
                             : name == "IdType"    ? (view.fileSystem ? "vfat" : "")
                             : name == "IdVersion" ? (!view.fileSystem        ? ""
                                                      : drive.seat.monochrome ? "FAT12"
                                                                              : "FAT16")
                             : name == "Id"        ? "by-id-usb-CASIO_" + pathElement(view.name)
                                                   : "";
    return sd_bus_message_append(reply, "s", text.c_str());
}

int mountPoints(sd_bus* /*bus*/, const char* /*path*/, const char* /*interface*/,
                const char* /*property*/, sd_bus_message* reply, void* userdata,
                sd_bus_error* /*error*/) {
    const DriveMedium& drive = *servedOf(userdata).drive;
    int result = sd_bus_message_open_container(reply, 'a', "ay");
    if (result >= 0 && !drive.mountPoint.empty()) {
        result = appendBytes(reply, drive.mountPoint);
    }
    return result < 0 ? result : sd_bus_message_close_container(reply);
}

int fileSystemSize(sd_bus* /*bus*/, const char* /*path*/, const char* /*interface*/,
                   const char* /*property*/, sd_bus_message* reply, void* userdata,
                   sd_bus_error* /*error*/) {
    return sd_bus_message_append(reply, "t",
                                 static_cast<uint64_t>(servedOf(userdata).drive->capacity));
}

int driveProperty(sd_bus* /*bus*/, const char* /*path*/, const char* /*interface*/,
                  const char* property, sd_bus_message* reply, void* userdata,
                  sd_bus_error* /*error*/) {
    const DriveMedium& drive = *servedOf(userdata).drive;
    const std::string name = property;
    if (name == "Removable" || name == "Ejectable" || name == "MediaRemovable" ||
        name == "MediaAvailable" || name == "CanPowerOff") {
        return sd_bus_message_append(reply, "b", true);
    }
    if (name == "Size") {
        return sd_bus_message_append(reply, "t", static_cast<uint64_t>(drive.capacity));
    }
    const std::string text = name == "Vendor"          ? "CASIO"
                             : name == "Model"         ? "Virtual drive"
                             : name == "Serial"        ? drive.seat.serial
                             : name == "Id"            ? "CASIO-Virtual-drive-" + drive.seat.serial
                             : name == "ConnectionBus" ? "usb"
                             : name == "Seat"          ? "seat0"
                                                       : "";
    return sd_bus_message_append(reply, "s", text.c_str());
}

int managerVersion(sd_bus* /*bus*/, const char* /*path*/, const char* /*interface*/,
                   const char* /*property*/, sd_bus_message* reply, void* /*userdata*/,
                   sd_bus_error* /*error*/) {
    return sd_bus_message_append(reply, "s", version);
}

int onMount(sd_bus_message* message, void* userdata, sd_bus_error* error) {
    Served& served = servedOf(userdata);
    return served.service->mount(served, message, error);
}

int onUnmount(sd_bus_message* message, void* userdata, sd_bus_error* error) {
    Served& served = servedOf(userdata);
    return served.service->unmount(served, message, error);
}

int onPowerOff(sd_bus_message* message, void* userdata, sd_bus_error* error) {
    Served& served = servedOf(userdata);
    return served.service->powerOff(served, message, error);
}

int onResolve(sd_bus_message* message, void* userdata, sd_bus_error* /*error*/) {
    return static_cast<UDisksStandIn*>(userdata)->resolve(message);
}

int onBlockDevices(sd_bus_message* message, void* userdata, sd_bus_error* /*error*/) {
    return static_cast<UDisksStandIn*>(userdata)->blockDevices(message);
}

#define BLOCK_PROPERTY(name, signature)                                                            \
    SD_BUS_PROPERTY(name, signature, blockProperty, 0, SD_BUS_VTABLE_PROPERTY_CONST)

const sd_bus_vtable blockVtable[] = {SD_BUS_VTABLE_START(0),
                                     BLOCK_PROPERTY("Device", "ay"),
                                     BLOCK_PROPERTY("PreferredDevice", "ay"),
                                     BLOCK_PROPERTY("Symlinks", "aay"),
                                     BLOCK_PROPERTY("DeviceNumber", "t"),
                                     BLOCK_PROPERTY("Id", "s"),
                                     BLOCK_PROPERTY("Size", "t"),
                                     BLOCK_PROPERTY("ReadOnly", "b"),
                                     BLOCK_PROPERTY("Drive", "o"),
                                     BLOCK_PROPERTY("IdUsage", "s"),
                                     BLOCK_PROPERTY("IdType", "s"),
                                     BLOCK_PROPERTY("IdVersion", "s"),
                                     BLOCK_PROPERTY("IdLabel", "s"),
                                     BLOCK_PROPERTY("IdUUID", "s"),
                                     BLOCK_PROPERTY("HintPartitionable", "b"),
                                     BLOCK_PROPERTY("HintSystem", "b"),
                                     BLOCK_PROPERTY("HintIgnore", "b"),
                                     BLOCK_PROPERTY("HintAuto", "b"),
                                     SD_BUS_VTABLE_END};

const sd_bus_vtable fileSystemVtable[] = {
    SD_BUS_VTABLE_START(0),
    SD_BUS_METHOD("Mount", "a{sv}", "s", onMount, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD("Unmount", "a{sv}", "", onUnmount, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_PROPERTY("MountPoints", "aay", mountPoints, 0, SD_BUS_VTABLE_PROPERTY_EMITS_CHANGE),
    SD_BUS_PROPERTY("Size", "t", fileSystemSize, 0, SD_BUS_VTABLE_PROPERTY_CONST),
    SD_BUS_VTABLE_END};

#define DRIVE_PROPERTY(name, signature)                                                            \
    SD_BUS_PROPERTY(name, signature, driveProperty, 0, SD_BUS_VTABLE_PROPERTY_CONST)

const sd_bus_vtable driveVtable[] = {
    SD_BUS_VTABLE_START(0),
    SD_BUS_METHOD("PowerOff", "a{sv}", "", onPowerOff, SD_BUS_VTABLE_UNPRIVILEGED),
    DRIVE_PROPERTY("Vendor", "s"),
    DRIVE_PROPERTY("Model", "s"),
    DRIVE_PROPERTY("Revision", "s"),
    DRIVE_PROPERTY("Serial", "s"),
    DRIVE_PROPERTY("Id", "s"),
    DRIVE_PROPERTY("Size", "t"),
    DRIVE_PROPERTY("ConnectionBus", "s"),
    DRIVE_PROPERTY("Seat", "s"),
    DRIVE_PROPERTY("Removable", "b"),
    DRIVE_PROPERTY("Ejectable", "b"),
    DRIVE_PROPERTY("MediaRemovable", "b"),
    DRIVE_PROPERTY("MediaAvailable", "b"),
    DRIVE_PROPERTY("CanPowerOff", "b"),
    SD_BUS_VTABLE_END};

const sd_bus_vtable managerVtable[] = {
    SD_BUS_VTABLE_START(0),
    SD_BUS_METHOD("ResolveDevice", "a{sv}a{sv}", "ao", onResolve, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD("GetBlockDevices", "a{sv}", "ao", onBlockDevices, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_PROPERTY("Version", "s", managerVersion, 0, SD_BUS_VTABLE_PROPERTY_CONST),
    SD_BUS_VTABLE_END};

// The "path" entry of the devspec that ResolveDevice takes (a{sv}); empty when it has none.
std::string specifiedPath(sd_bus_message* message) {
    std::string path;
    if (sd_bus_message_enter_container(message, 'a', "{sv}") < 0) {
        return path;
    }
    while (sd_bus_message_enter_container(message, 'e', "sv") > 0) {
        const char* key = nullptr;
        const char* value = nullptr;
        if (sd_bus_message_read(message, "s", &key) < 0) {
            break;
        }
        if (g_strcmp0(key, "path") == 0 && sd_bus_message_read(message, "v", "s", &value) >= 0) {
            path = value;
        } else {
            sd_bus_message_skip(message, "v");
        }
        sd_bus_message_exit_container(message);
    }
    sd_bus_message_exit_container(message);
    return path;
}

int replyWithPaths(sd_bus_message* message, const std::vector<std::string>& paths) {
    sd_bus_message* reply = nullptr;
    int result = sd_bus_message_new_method_return(message, &reply);
    result = result < 0 ? result : sd_bus_message_open_container(reply, 'a', "o");
    for (const std::string& path : paths) {
        result = result < 0 ? result : sd_bus_message_append(reply, "o", path.c_str());
    }
    result = result < 0 ? result : sd_bus_message_close_container(reply);
    result = result < 0 ? result : sd_bus_send(nullptr, reply, nullptr);
    sd_bus_message_unref(reply);
    return result < 0 ? result : 1;
}

} // namespace

UDisksStandIn::UDisksStandIn(const std::string& busAddress, std::vector<DriveMedium>& drives,
                             const MountInfoFile& mountInfo, PowerOff powerOff)
    : drives(drives), mountInfo(mountInfo), poweredOff(std::move(powerOff)) {
    if (sd_bus_new(&bus) < 0 || sd_bus_set_address(bus, busAddress.c_str()) < 0 ||
        sd_bus_set_bus_client(bus, 1) < 0 || sd_bus_start(bus) < 0) {
        error = "can't reach the private system bus at " + busAddress;
        return;
    }
    if (!serve()) {
        error = "can't serve the disk service on the private system bus";
        return;
    }
    watch = g_unix_fd_add(sd_bus_get_fd(bus), G_IO_IN,
                          reinterpret_cast<GUnixFDSourceFunc>(onReadable), this);
    process();
}

UDisksStandIn::~UDisksStandIn() {
    if (watch != 0) {
        g_source_remove(watch);
    }
    for (std::unique_ptr<Served>& served : objects) {
        for (sd_bus_slot* slot : served->slots) {
            sd_bus_slot_unref(slot);
        }
    }
    for (sd_bus_slot* slot : ownSlots) {
        sd_bus_slot_unref(slot);
    }
    sd_bus_flush_close_unref(bus);
}

std::string UDisksStandIn::drivePath(const DriveMedium& drive) {
    return std::string(rootPath) + "/drives/CASIO_Virtual_drive_" + pathElement(drive.seat.address);
}

std::string UDisksStandIn::blockPath(const std::string& device) {
    return std::string(rootPath) + "/block_devices/" + pathElement(device);
}

bool UDisksStandIn::serve() {
    sd_bus_slot* manager = nullptr;
    sd_bus_slot* objectManager = nullptr;
    const bool served = sd_bus_add_object_manager(bus, &objectManager, rootPath) >= 0 &&
                        sd_bus_add_object_vtable(bus, &manager, managerPath, managerInterface,
                                                 managerVtable, this) >= 0;
    ownSlots = {objectManager, manager};
    for (DriveMedium& drive : drives) {
        if (!served || !serveDrive(drive)) {
            return false;
        }
    }
    return sd_bus_request_name(bus, serviceName, 0) >= 0;
}

// The drive, its disk and, on a partition, its file system: three objects, or two when the
// file system covers the disk.
bool UDisksStandIn::serveDrive(DriveMedium& drive) {
    const Seat& seat = drive.seat;
    objects.push_back(
        std::make_unique<Served>(Served{this, &drive, Served::Role::Drive, drivePath(drive), {}}));
    bool served = add(*objects.back(), driveInterface, driveVtable);
    if (!seat.wholeDisk) {
        objects.push_back(std::make_unique<Served>(
            Served{this, &drive, Served::Role::Disk, blockPath(seat.disk), {}}));
        served = served && add(*objects.back(), blockInterface, blockVtable);
    }
    objects.push_back(std::make_unique<Served>(
        Served{this, &drive, Served::Role::FileSystem, blockPath(seat.fileSystemDevice()), {}}));
    return served && add(*objects.back(), blockInterface, blockVtable) &&
           add(*objects.back(), fileSystemInterface, fileSystemVtable);
}

bool UDisksStandIn::add(Served& served, const char* interface, const void* vtable) {
    sd_bus_slot* slot = nullptr;
    const int result = sd_bus_add_object_vtable(bus, &slot, served.path.c_str(), interface,
                                                static_cast<const sd_bus_vtable*>(vtable), &served);
    if (result >= 0) {
        served.slots.push_back(slot);
    }
    return result >= 0;
}

int UDisksStandIn::mount(Served& served, sd_bus_message* message, sd_bus_error* error) {
    DriveMedium& drive = *served.drive;
    if (drive.refuseMount) {
        drive.report->note("refused to mount " + drive.node() + ": not authorized");
        return sd_bus_error_set(error, notAuthorized, "Not authorized to perform operation");
    }
    if (!drive.mountPoint.empty()) {
        return sd_bus_error_setf(error, alreadyMounted, "Device %s is already mounted at `%s'.",
                                 drive.node().c_str(), drive.mountPoint.c_str());
    }
    drive.mountPoint = drive.root;
    ++drive.mounts;
    drive.report->note("mounted " + drive.node() + " at " + drive.root +
                       (drive.readOnly ? " (read-only)" : ""));
    mountsChanged(served);
    return sd_bus_reply_method_return(message, "s", drive.mountPoint.c_str());
}

int UDisksStandIn::unmount(Served& served, sd_bus_message* message, sd_bus_error* error) {
    DriveMedium& drive = *served.drive;
    if (drive.mountPoint.empty()) {
        return sd_bus_error_setf(error, notMounted, "Device `%s' is not mounted",
                                 drive.node().c_str());
    }
    if (drive.refuseEject) {
        drive.report->note("refused to unmount " + drive.node() + ": not authorized");
        return sd_bus_error_set(error, notAuthorized, "Not authorized to perform operation");
    }
    drive.mountPoint.clear();
    ++drive.unmounts;
    drive.report->note("unmounted " + drive.node());
    mountsChanged(served);
    return sd_bus_reply_method_return(message, "");
}

int UDisksStandIn::powerOff(Served& served, sd_bus_message* message, sd_bus_error* error) {
    DriveMedium& drive = *served.drive;
    if (drive.refuseEject) {
        drive.report->note("refused to power off the drive: not authorized");
        return sd_bus_error_set(error, notAuthorized, "Not authorized to perform operation");
    }
    if (!drive.mountPoint.empty()) {
        return sd_bus_error_setf(error, deviceBusy, "Device %s is mounted", drive.node().c_str());
    }
    // Gone before the answer, as from a real drive: a client that looks next finds nothing.
    ++drive.powerOffs;
    drive.report->note("powered off: the drive left the bus");
    leave(drive);
    return sd_bus_reply_method_return(message, "");
}

// Its objects go, with InterfacesRemoved, while still there to be named; then its devices
// leave the testbed.
void UDisksStandIn::leave(DriveMedium& drive) {
    for (std::unique_ptr<Served>& served : objects) {
        if (served->drive == &drive && !served->slots.empty()) {
            sd_bus_emit_object_removed(bus, served->path.c_str());
            for (sd_bus_slot* slot : served->slots) {
                sd_bus_slot_unref(slot);
            }
            served->slots.clear();
        }
    }
    drive.onBus = false;
    poweredOff(drive);
}

void UDisksStandIn::mountsChanged(Served& fileSystem) {
    if (!mountInfo.write(drives)) {
        fileSystem.drive->report->failure("can't write the testbed's mountinfo");
    }
    sd_bus_emit_properties_changed(bus, fileSystem.path.c_str(), fileSystemInterface, "MountPoints",
                                   nullptr);
}

int UDisksStandIn::resolve(sd_bus_message* message) {
    const std::string wanted = specifiedPath(message);
    std::vector<std::string> found;
    for (const std::unique_ptr<Served>& served : objects) {
        const bool block = served->role != Served::Role::Drive && !served->slots.empty() &&
                           std::chrono::steady_clock::now() >= served->drive->knownFrom;
        if (block && "/dev/" + viewOf(*served).name == wanted) {
            found.push_back(served->path);
        }
    }
    return replyWithPaths(message, found);
}

int UDisksStandIn::blockDevices(sd_bus_message* message) {
    std::vector<std::string> found;
    for (const std::unique_ptr<Served>& served : objects) {
        if (served->role != Served::Role::Drive && !served->slots.empty()) {
            found.push_back(served->path);
        }
    }
    return replyWithPaths(message, found);
}

int UDisksStandIn::onReadable(int /*descriptor*/, unsigned /*condition*/, void* self) {
    static_cast<UDisksStandIn*>(self)->process();
    return G_SOURCE_CONTINUE;
}

// Everything that came, answered, and the answers sent.
void UDisksStandIn::process() {
    while (sd_bus_process(bus, nullptr) > 0) {
    }
    sd_bus_flush(bus);
}
