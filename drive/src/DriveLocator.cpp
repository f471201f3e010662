#include "DriveLocator.h"

#include "Log.h"
#include "UdevTree.h"

#include <cstdio>
#include <vector>

namespace {

using Device = UdevTree::Device;

std::string property(udev_device* device, const char* name) {
    return UdevTree::textOf(udev_device_get_property_value(device, name));
}

bool holdsFileSystem(udev_device* device) {
    return property(device, "ID_FS_USAGE") == "filesystem";
}

bool isPartition(udev_device* device) {
    return UdevTree::textOf(udev_device_get_devtype(device)) == "partition";
}

// A partition first: a disk whose partition table udev also read as a file system would
// otherwise hide it.
udev_device* fileSystemAmong(const std::vector<Device>& devices) {
    for (const bool partition : {true, false}) {
        for (const Device& device : devices) {
            if (isPartition(device.get()) == partition && holdsFileSystem(device.get())) {
                return device.get();
            }
        }
    }
    return nullptr;
}

std::string diskNodeOf(udev_device* device) {
    udev_device* disk = isPartition(device) ? udev_device_get_parent(device) : device;
    return UdevTree::textOf(disk != nullptr ? udev_device_get_devnode(disk) : nullptr);
}

void describe(udev_device* found, DriveDevice* device) {
    device->node = UdevTree::textOf(udev_device_get_devnode(found));
    device->disk = diskNodeOf(found);
    device->number = udev_device_get_devnum(found);
    device->type = property(found, "ID_FS_TYPE");
    device->version = property(found, "ID_FS_VERSION");
    device->label = property(found, "ID_FS_LABEL");
    device->uuid = property(found, "ID_FS_UUID");
}

} // namespace

bool DriveLocator::locate(const std::string& address, DriveDevice* device, bool quiet) {
    const auto say = [quiet](const std::string& text) {
        if (!quiet) {
            Log::error(text.c_str());
        }
    };
    const UdevTree::Udev context = UdevTree::open();
    if (!context) {
        say("Can't read the system's devices (udev)");
        return true;
    }
    const Device usbDevice = UdevTree::usbDeviceAt(context.get(), address);
    if (!usbDevice) {
        say("No calculator is attached at " + address);
        return true;
    }
    // Its disk, then its partitions, in the order of their names.
    const std::vector<Device> devices = UdevTree::below(context.get(), usbDevice.get(), "block");
    udev_device* found = fileSystemAmong(devices);
    if (found == nullptr) {
        say(("The drive calculator at " + address +
             (devices.empty() ? " shows no disk yet: is it in its USB mode? Try again "
                                "in a few seconds"
                              : " shows no file system on its disk " +
                                    UdevTree::textOf(udev_device_get_devnode(devices[0].get())))));
        return true;
    }
    describe(found, device);
    return false;
}
