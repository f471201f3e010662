#include "DriveLocator.h"

#include "Log.h"

#include <cstdio>
#include <libudev.h>
#include <memory>
#include <vector>

namespace {

using Udev = std::unique_ptr<udev, decltype(&udev_unref)>;
using Device = std::unique_ptr<udev_device, decltype(&udev_device_unref)>;
using Enumeration = std::unique_ptr<udev_enumerate, decltype(&udev_enumerate_unref)>;

std::string textOf(const char* text) {
    return text != nullptr ? text : "";
}

std::string property(udev_device* device, const char* name) {
    return textOf(udev_device_get_property_value(device, name));
}

// Its address as the calculators are listed: the port path, which is the device's name in
// sysfs, or "BUS:DEVICE" when the system cannot tell the path.
bool hasAddress(udev_device* device, const std::string& address) {
    if (textOf(udev_device_get_sysname(device)) == address) {
        return true;
    }
    const std::string bus = textOf(udev_device_get_sysattr_value(device, "busnum"));
    const std::string number = textOf(udev_device_get_sysattr_value(device, "devnum"));
    return !bus.empty() && bus + ":" + number == address;
}

Device usbDeviceAt(udev* context, const std::string& address) {
    Enumeration enumeration(udev_enumerate_new(context), udev_enumerate_unref);
    udev_enumerate_add_match_subsystem(enumeration.get(), "usb");
    udev_enumerate_add_match_property(enumeration.get(), "DEVTYPE", "usb_device");
    udev_enumerate_scan_devices(enumeration.get());
    udev_list_entry* entry = nullptr;
    udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(enumeration.get())) {
        Device device(udev_device_new_from_syspath(context, udev_list_entry_get_name(entry)),
                      udev_device_unref);
        if (device && hasAddress(device.get(), address)) {
            return device;
        }
    }
    return Device(nullptr, udev_device_unref);
}

// The calculator's block devices: its disk, then its partitions, in the order of their names.
std::vector<Device> blockDevicesBelow(udev* context, udev_device* usbDevice) {
    Enumeration enumeration(udev_enumerate_new(context), udev_enumerate_unref);
    udev_enumerate_add_match_subsystem(enumeration.get(), "block");
    udev_enumerate_add_match_parent(enumeration.get(), usbDevice);
    udev_enumerate_scan_devices(enumeration.get());
    std::vector<Device> devices;
    udev_list_entry* entry = nullptr;
    udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(enumeration.get())) {
        Device device(udev_device_new_from_syspath(context, udev_list_entry_get_name(entry)),
                      udev_device_unref);
        if (device && udev_device_get_devnode(device.get()) != nullptr) {
            devices.push_back(std::move(device));
        }
    }
    return devices;
}

bool holdsFileSystem(udev_device* device) {
    return property(device, "ID_FS_USAGE") == "filesystem";
}

bool isPartition(udev_device* device) {
    return textOf(udev_device_get_devtype(device)) == "partition";
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
    return textOf(disk != nullptr ? udev_device_get_devnode(disk) : nullptr);
}

void describe(udev_device* found, DriveDevice* device) {
    device->node = textOf(udev_device_get_devnode(found));
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
    Udev context(udev_new(), udev_unref);
    if (!context) {
        say("Can't read the system's devices (udev)");
        return true;
    }
    const Device usbDevice = usbDeviceAt(context.get(), address);
    if (!usbDevice) {
        say("No calculator is attached at " + address);
        return true;
    }
    const std::vector<Device> devices = blockDevicesBelow(context.get(), usbDevice.get());
    udev_device* found = fileSystemAmong(devices);
    if (found == nullptr) {
        say(("The drive calculator at " + address +
             (devices.empty() ? " shows no disk yet: is it in its USB mode? Try again "
                                "in a few seconds"
                              : " shows no file system on its disk " +
                                    textOf(udev_device_get_devnode(devices[0].get())))));
        return true;
    }
    describe(found, device);
    return false;
}
