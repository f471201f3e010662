#include "DriveScreen.h"

#include "Log.h"

#include <cerrno>
#include <cstring>
#include <libudev.h>
#include <memory>

namespace {

using Udev = std::unique_ptr<udev, decltype(&udev_unref)>;
using Device = std::unique_ptr<udev_device, decltype(&udev_device_unref)>;
using Enumeration = std::unique_ptr<udev_enumerate, decltype(&udev_enumerate_unref)>;

std::string textOf(const char* text) {
    return text != nullptr ? text : "";
}

// Its address as the calculators are listed: the port path ("1-4.2"), which is the USB device's
// name in sysfs, or "BUS:DEVICE" where the system cannot tell the path.
bool hasAddress(udev_device* usb, const std::string& address) {
    const std::string bus = textOf(udev_device_get_sysattr_value(usb, "busnum"));
    const std::string number = textOf(udev_device_get_sysattr_value(usb, "devnum"));
    return textOf(udev_device_get_sysname(usb)) == address ||
           (!bus.empty() && bus + ":" + number == address);
}

bool belongsTo(udev_device* device, const std::string& address) {
    udev_device* usb = udev_device_get_parent_with_subsystem_devtype(device, "usb", "usb_device");
    return usb != nullptr && hasAddress(usb, address);
}

// The first device of the subsystem (and type, when given) below the calculator with a node.
std::string nodeBelow(udev* context, const std::string& address, const char* subsystem,
                      const char* type) {
    Enumeration enumeration(udev_enumerate_new(context), udev_enumerate_unref);
    udev_enumerate_add_match_subsystem(enumeration.get(), subsystem);
    if (type != nullptr) {
        udev_enumerate_add_match_property(enumeration.get(), "DEVTYPE", type);
    }
    udev_enumerate_scan_devices(enumeration.get());
    udev_list_entry* entry = nullptr;
    udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(enumeration.get())) {
        Device device(udev_device_new_from_syspath(context, udev_list_entry_get_name(entry)),
                      udev_device_unref);
        if (device && udev_device_get_devnode(device.get()) != nullptr &&
            belongsTo(device.get(), address)) {
            return udev_device_get_devnode(device.get());
        }
    }
    return "";
}

bool calculatorAt(udev* context, const std::string& address) {
    Enumeration enumeration(udev_enumerate_new(context), udev_enumerate_unref);
    udev_enumerate_add_match_subsystem(enumeration.get(), "usb");
    udev_enumerate_add_match_property(enumeration.get(), "DEVTYPE", "usb_device");
    udev_enumerate_scan_devices(enumeration.get());
    udev_list_entry* entry = nullptr;
    udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(enumeration.get())) {
        Device device(udev_device_new_from_syspath(context, udev_list_entry_get_name(entry)),
                      udev_device_unref);
        if (device && hasAddress(device.get(), address)) {
            return true;
        }
    }
    return false;
}

void sayWhyNotOpened(const DriveScreenNode& node, int error) {
    if (error != EACCES && error != EPERM) {
        Log::error(
            ("Can't open " + node.path + ", the calculator's screen: " + strerror(error)).c_str());
        return;
    }
    Log::error(("Not enough permission to open " + node.path +
                ", the calculator's screen: install tolvane's udev rule (see ACCESS RIGHTS in "
                "man tolvane), then unplug the calculator and plug it in again; or run as root")
                   .c_str());
}

} // namespace

bool DriveScreen::locate(const std::string& address, DriveScreenNode* node, bool quiet) {
    const auto fail = [quiet](const std::string& text) {
        if (!quiet) {
            Log::error(text.c_str());
        }
        return true;
    };
    Udev context(udev_new(), udev_unref);
    if (!context) {
        return fail("Can't read the system's devices (udev)");
    }
    node->path = nodeBelow(context.get(), address, "scsi_generic", nullptr);
    node->generic = !node->path.empty();
    if (!node->generic) {
        node->path = nodeBelow(context.get(), address, "block", "disk");
    }
    if (!node->path.empty()) {
        return false;
    }
    return fail(calculatorAt(context.get(), address)
                    ? "The drive calculator at " + address +
                          " shows no SCSI device yet: is it in its ScreenRecv or Projector "
                          "mode? Try again in a few seconds"
                    : "No calculator is attached at " + address);
}

bool DriveScreen::open(const std::string& address, CasioDriveScreenSource* source) {
    DriveScreenNode node;
    if (locate(address, &node)) {
        return true;
    }
    if (source->open(node.path.c_str())) {
        sayWhyNotOpened(node, errno);
        return true;
    }
    return false;
}
