#pragma once

#include "UsbContext.h"

#include <cstdint>
#include <libusb.h>

// How a calculator shows itself on USB: as the protocol device the link code speaks to
// (07cf:6101), or as a USB drive (07cf:6102, 07cf:6103).
enum class CalcKind { Link, Drive };

// One attached calculator, as the bus and the kernel describe it, without opening it.
struct CalcDescription {
    // "255-" and seven ".255" at most.
    static constexpr int addressCapacity = 32;
    // A USB string holds at most 126 UTF-16 units, at most 3 bytes each in UTF-8.
    static constexpr int textCapacity = 384;

    // The USB port path, "BUS-PORT.PORT...": stable while the calculator stays in that port.
    // Where the system cannot tell the path, "BUS:DEVICE" (the numbers lsusb shows), which
    // changes whenever it is plugged in again.
    char address[addressCapacity];
    CalcKind kind;
    // The kernel's copies of the device's strings; empty when it has none. Control characters
    // and bytes that are no UTF-8 are shown as '?', so that printing them is safe and a line
    // stays one line.
    char product[textCapacity];
    char serial[textCapacity];
    // Another program holds it: its interface is claimed through usbfs.
    bool busy;
};

// Takes the attached calculators, one at a time.
class CalcListener {
public:
    virtual void calcFound(const CalcDescription& calc) = 0;

protected:
    ~CalcListener() = default;
};

// Finds the attached calculators without opening any: the bus gives their identifiers and
// port paths, sysfs their strings and whether a program holds them. That needs no
// permission, and never gets in the way of a program that is using one.
class CalcFinder {
public:
    static constexpr uint16_t casioVendorId = 0x07CF;
    static constexpr uint16_t linkProductId = 0x6101;
    static constexpr uint16_t driveProductId = 0x6102;
    static constexpr uint16_t newDriveProductId = 0x6103;

    // "link" or "drive".
    static const char* kindName(CalcKind kind);
    // True when a device with these identifiers is no calculator.
    static bool kindOf(uint16_t idVendor, uint16_t idProduct, CalcKind* kind);

    // Every attached calculator, in the order of their addresses. True, after saying so, when
    // the bus cannot be read.
    static bool listCalcs(UsbContext* usbContext, CalcListener* listener);
    // True when `device` is no calculator.
    static bool describe(libusb_device* device, CalcDescription* description);
    // Orders addresses as a user reads them: by bus, then port by port, numerically ("1-4.2"
    // before "1-4.10", a hub's port before the ports behind it). Below, at or above zero.
    static int compareAddresses(const char* first, const char* second);
    // The device's address (above); true when it does not fit.
    static bool addressOf(libusb_device* device, char* address, int capacity);

private:
    // The calculator of the list with the lowest address above `after` (null: any); true
    // when there is none.
    static bool findNext(libusb_device** deviceList, int deviceCount, const char* after,
                         CalcDescription* next);
};
