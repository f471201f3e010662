// sysfs as the double's devices would show it, in place of the kernel's.

#include "LibusbDouble.h"
#include "UsbSysfs.h"

#include <cstdio>

namespace {

bool copyOut(const std::optional<std::string>& value, char* text, int capacity) {
    if (!value || capacity < 1) {
        return true;
    }
    snprintf(text, static_cast<size_t>(capacity), "%s", value->c_str());
    return false;
}

} // namespace

bool UsbSysfs::readAttribute(const char* address, const char* name, char* text, int capacity) {
    const LibusbDouble::DevicePlace* place = LibusbDouble::placeNamed(address);
    if (place == nullptr) {
        return true;
    }
    const std::string attribute = name;
    return copyOut(attribute == "product"  ? place->product
                   : attribute == "serial" ? place->serial
                                           : std::nullopt,
                   text, capacity);
}

bool UsbSysfs::interfaceDriver(const char* address, int interface, char* text, int capacity) {
    const LibusbDouble::DevicePlace* place = LibusbDouble::placeNamed(address);
    const bool held = place != nullptr && interface == 0 && place->busy;
    return copyOut(held ? std::optional<std::string>("usbfs") : std::nullopt, text, capacity);
}
