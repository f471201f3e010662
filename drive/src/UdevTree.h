#pragma once

#include <libudev.h>
#include <memory>
#include <string>
#include <vector>

// A calculator's devices as udev shows them, found from its address as the calculators are
// listed: "1-4.2", the port path, which is the USB device's name in sysfs, or "BUS:DEVICE"
// where the system cannot tell the path.
class UdevTree {
public:
    using Udev = std::unique_ptr<udev, decltype(&udev_unref)>;
    using Device = std::unique_ptr<udev_device, decltype(&udev_device_unref)>;

    static Udev open() { return Udev(udev_new(), udev_unref); }
    static std::string textOf(const char* text) { return text != nullptr ? text : ""; }

    // The calculator's USB device; null when none is attached at `address`.
    static Device usbDeviceAt(udev* context, const std::string& address);
    // The devices below it of `subsystem` (and DEVTYPE `type`, when given) that have a node,
    // in the order of their names.
    static std::vector<Device> below(udev* context, udev_device* usbDevice, const char* subsystem,
                                     const char* type = nullptr);
};
