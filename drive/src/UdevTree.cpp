#include "UdevTree.h"

namespace {

using Device = UdevTree::Device;
using Enumeration = std::unique_ptr<udev_enumerate, decltype(&udev_enumerate_unref)>;

bool hasAddress(udev_device* device, const std::string& address) {
    if (UdevTree::textOf(udev_device_get_sysname(device)) == address) {
        return true;
    }
    const std::string bus = UdevTree::textOf(udev_device_get_sysattr_value(device, "busnum"));
    const std::string number = UdevTree::textOf(udev_device_get_sysattr_value(device, "devnum"));
    return !bus.empty() && bus + ":" + number == address;
}

// Every device the enumeration finds, as it lists them.
std::vector<Device> devicesOf(udev* context, udev_enumerate* enumeration) {
    udev_enumerate_scan_devices(enumeration);
    std::vector<Device> devices;
    udev_list_entry* entry = nullptr;
    udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(enumeration)) {
        Device device(udev_device_new_from_syspath(context, udev_list_entry_get_name(entry)),
                      udev_device_unref);
        if (device) {
            devices.push_back(std::move(device));
        }
    }
    return devices;
}

} // namespace

Device UdevTree::usbDeviceAt(udev* context, const std::string& address) {
    Enumeration enumeration(udev_enumerate_new(context), udev_enumerate_unref);
    udev_enumerate_add_match_subsystem(enumeration.get(), "usb");
    udev_enumerate_add_match_property(enumeration.get(), "DEVTYPE", "usb_device");
    for (Device& device : devicesOf(context, enumeration.get())) {
        if (hasAddress(device.get(), address)) {
            return std::move(device);
        }
    }
    return Device(nullptr, udev_device_unref);
}

std::vector<Device> UdevTree::below(udev* context, udev_device* usbDevice, const char* subsystem,
                                    const char* type) {
    Enumeration enumeration(udev_enumerate_new(context), udev_enumerate_unref);
    udev_enumerate_add_match_subsystem(enumeration.get(), subsystem);
    if (type != nullptr) {
        udev_enumerate_add_match_property(enumeration.get(), "DEVTYPE", type);
    }
    udev_enumerate_add_match_parent(enumeration.get(), usbDevice);
    std::vector<Device> withNodes;
    for (Device& device : devicesOf(context, enumeration.get())) {
        if (udev_device_get_devnode(device.get()) != nullptr) {
            withNodes.push_back(std::move(device));
        }
    }
    return withNodes;
}
