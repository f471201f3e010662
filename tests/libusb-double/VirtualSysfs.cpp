// sysfs as the double's devices would show it, in place of the kernel's.

#include "LibusbDouble.h"
#include "UsbSysfs.h"

#include <cstdio>

namespace {

bool copyOut(const std::optional<std::string>& value, char* text, int capacity) {
    if (value) {
        snprintf(text, static_cast<size_t>(capacity), "%s", value->c_str());
    }
    return !value;
}

const LibusbDouble::PlacedDevice* named(const char* address) {
    const int device = LibusbDouble::deviceNamed(address);
    return device < 0 ? nullptr : &LibusbDouble::placedDevice(device);
}

} // namespace

bool UsbSysfs::readAttribute(const char* address, const char* name, char* text, int capacity) {
    const LibusbDouble::PlacedDevice* device = named(address);
    const std::string attribute = name;
    return device == nullptr || copyOut(attribute == "product"  ? device->product
                                        : attribute == "serial" ? device->serial
                                                                : std::nullopt,
                                        text, capacity);
}

bool UsbSysfs::interfaceDriver(const char* address, int interface, char* text, int capacity) {
    const LibusbDouble::PlacedDevice* device = named(address);
    const bool held = device != nullptr && interface == 0 && device->busy;
    return copyOut(held ? std::optional<std::string>("usbfs") : std::nullopt, text, capacity);
}
