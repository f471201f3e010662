#include "CalcFinder.h"

#include "Log.h"
#include "PrintableText.h"
#include "UsbSysfs.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// USB allows seven tiers of hubs, so at most seven port numbers.
constexpr int mostPorts = 7;
constexpr int driverCapacity = 32;
constexpr char claimedThroughLibusb[] = "usbfs";

// Empty when the device has no such string.
void readString(const char* address, const char* name, char* text, int capacity) {
    if (UsbSysfs::readAttribute(address, name, text, capacity)) {
        text[0] = '\0';
    }
    PrintableText::clean(text);
}

bool isHeld(const char* address) {
    char driver[driverCapacity];
    return !UsbSysfs::interfaceDriver(address, 0, driver, sizeof driver) &&
           strcmp(driver, claimedThroughLibusb) == 0;
}

} // namespace

// A class set is listed port by port, without keeping the list: each look finds the lowest
// address above the one given last.
bool CalcFinder::findNext(libusb_device** deviceList, int deviceCount, const char* after,
                          CalcDescription* next) {
    bool found = false;
    for (int idx = 0; idx < deviceCount; ++idx) {
        CalcDescription calc;
        if (describe(deviceList[idx], &calc) ||
            (after != nullptr && compareAddresses(calc.address, after) <= 0) ||
            (found && compareAddresses(calc.address, next->address) >= 0)) {
            continue;
        }
        *next = calc;
        found = true;
    }
    return !found;
}

const char* CalcFinder::kindName(CalcKind kind) {
    return kind == CalcKind::Drive ? "drive" : "link";
}

bool CalcFinder::kindOf(uint16_t idVendor, uint16_t idProduct, CalcKind* kind) {
    if (idVendor != casioVendorId) {
        return true;
    }
    if (idProduct == linkProductId) {
        *kind = CalcKind::Link;
        return false;
    }
    if (idProduct == driveProductId || idProduct == newDriveProductId) {
        *kind = CalcKind::Drive;
        return false;
    }
    return true;
}

bool CalcFinder::listCalcs(UsbContext* usbContext, CalcListener* listener) {
    libusb_device** deviceList = nullptr;
    const ssize_t deviceCount = libusb_get_device_list(usbContext->getlibusbContext(), &deviceList);
    if (deviceCount < 0) {
        Log::error("Can't get the list of USB devices !");
        return true;
    }
    CalcDescription given;
    CalcDescription next;
    bool anyGiven = false;
    while (!findNext(deviceList, static_cast<int>(deviceCount), anyGiven ? given.address : nullptr,
                     &next)) {
        listener->calcFound(next);
        given = next;
        anyGiven = true;
    }
    libusb_free_device_list(deviceList, 1);
    return false;
}

bool CalcFinder::describe(libusb_device* device, CalcDescription* description) {
    libusb_device_descriptor deviceDescriptor;
    if (libusb_get_device_descriptor(device, &deviceDescriptor) != 0) {
        Log::debug("A USB device without a readable descriptor: skipped");
        return true;
    }
    if (kindOf(deviceDescriptor.idVendor, deviceDescriptor.idProduct, &description->kind) ||
        addressOf(device, description->address, sizeof description->address)) {
        return true;
    }
    readString(description->address, "product", description->product, sizeof description->product);
    readString(description->address, "serial", description->serial, sizeof description->serial);
    description->busy = isHeld(description->address);
    return false;
}

int CalcFinder::compareAddresses(const char* first, const char* second) {
    while (*first != '\0' && *second != '\0') {
        char* firstEnd = nullptr;
        char* secondEnd = nullptr;
        const unsigned long firstNumber = strtoul(first, &firstEnd, 10);
        const unsigned long secondNumber = strtoul(second, &secondEnd, 10);
        if (firstNumber != secondNumber) {
            return firstNumber < secondNumber ? -1 : 1;
        }
        // The separators next, where the end comes first.
        if (*firstEnd != *secondEnd || *firstEnd == '\0') {
            return (*firstEnd > *secondEnd) - (*firstEnd < *secondEnd);
        }
        first = firstEnd + 1;
        second = secondEnd + 1;
    }
    return (*first != '\0') - (*second != '\0');
}

bool CalcFinder::addressOf(libusb_device* device, char* address, int capacity) {
    uint8_t ports[mostPorts];
    const int portCount = libusb_get_port_numbers(device, ports, mostPorts);
    const int bus = libusb_get_bus_number(device);
    // Without sysfs libusb cannot tell the topology: the bus and device numbers, as lsusb
    // shows them, still name the device until it is plugged in again.
    int length = portCount > 0 ? snprintf(address, static_cast<size_t>(capacity), "%d", bus)
                               : snprintf(address, static_cast<size_t>(capacity), "%d:%d", bus,
                                          libusb_get_device_address(device));
    for (int port = 0; port < portCount && length >= 0 && length < capacity; ++port) {
        length += snprintf(address + length, static_cast<size_t>(capacity - length), "%c%d",
                           port == 0 ? '-' : '.', ports[port]);
    }
    return length < 0 || length >= capacity;
}
