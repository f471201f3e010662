#pragma once

// What the kernel tells of a USB device in sysfs, read without opening the device and
// without any permission. A device is named there by its port path ("1-4.2"), which is how
// the library names calculators. Kept apart from the library's other objects, as the clock
// is: the tests link a stand-in over their libusb double in its place.
class UsbSysfs {
public:
    // The device's attribute `name` ("product", "serial") without its line end, in `text`
    // of `capacity` bytes, cut to fit. True when the device has no such attribute.
    static bool readAttribute(const char* address, const char* name, char* text, int capacity);
    // The name of the driver bound to interface `interface` of the device's active
    // configuration: "usbfs" while a program holds it through libusb. True when none is.
    static bool interfaceDriver(const char* address, int interface, char* text, int capacity);
};
