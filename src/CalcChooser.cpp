#include "CalcChooser.h"

#include "CalcConnector.h"
#include "Log.h"

#include <cstring>

namespace {

enum class MatchBy { Any, Address, Serial };

bool matches(const CalcDescription& calc, MatchBy by, const char* chosen) {
    switch (by) {
    case MatchBy::Address:
        return strcmp(calc.address, chosen) == 0;
    case MatchBy::Serial:
        return calc.serial[0] != '\0' && strcmp(calc.serial, chosen) == 0;
    default:
        return true;
    }
}

// How many calculators of the list match; the first of them in `found` and `description`.
int findMatches(libusb_device** deviceList, int deviceCount, MatchBy by, const char* chosen,
                libusb_device** found, CalcDescription* description) {
    int matchCount = 0;
    for (int idx = 0; idx < deviceCount; ++idx) {
        CalcDescription calc;
        if (CalcFinder::describe(deviceList[idx], &calc) || !matches(calc, by, chosen)) {
            continue;
        }
        if (matchCount++ == 0) {
            *found = deviceList[idx];
            *description = calc;
        }
    }
    return matchCount;
}

// An address names one port; a serial is looked for only when no port has that name.
CalcChoice choose(libusb_device** deviceList, int deviceCount, const char* chosen,
                  libusb_device** found, CalcDescription* description) {
    const bool anyOne = chosen == nullptr || chosen[0] == '\0';
    int matchCount = findMatches(deviceList, deviceCount, anyOne ? MatchBy::Any : MatchBy::Address,
                                 chosen, found, description);
    if (anyOne) {
        return matchCount == 0   ? CalcChoice::NoneAttached
               : matchCount == 1 ? CalcChoice::Opened
                                 : CalcChoice::SeveralAttached;
    }
    if (matchCount == 0) {
        matchCount =
            findMatches(deviceList, deviceCount, MatchBy::Serial, chosen, found, description);
    }
    return matchCount == 0   ? CalcChoice::NotAttached
           : matchCount == 1 ? CalcChoice::Opened
                             : CalcChoice::Ambiguous;
}

libusb_device_handle* openAndClaim(UsbContext* usbContext, libusb_device* device) {
    libusb_device_handle* handle = CalcConnector::openDevice(usbContext, device);
    if (handle != nullptr && CalcConnector::claimInterface(handle)) {
        libusb_close(handle);
        return nullptr;
    }
    return handle;
}

} // namespace

CalcChoice CalcChooser::find(UsbContext* usbContext, const char* chosen,
                             CalcDescription* description) {
    libusb_device** deviceList = nullptr;
    const ssize_t deviceCount = libusb_get_device_list(usbContext->getlibusbContext(), &deviceList);
    if (deviceCount < 0) {
        Log::error("Can't get the list of USB devices !");
        return CalcChoice::Unopened;
    }
    libusb_device* device = nullptr;
    CalcDescription calc;
    const CalcChoice choice =
        choose(deviceList, static_cast<int>(deviceCount), chosen, &device, &calc);
    libusb_free_device_list(deviceList, 1);
    if (choice != CalcChoice::Opened) {
        return choice;
    }
    *description = calc;
    return CalcChoice::Found;
}

CalcChoice CalcChooser::open(UsbContext* usbContext, const char* chosen,
                             libusb_device_handle** handle, CalcDescription* description) {
    *handle = nullptr;
    libusb_device** deviceList = nullptr;
    const ssize_t deviceCount = libusb_get_device_list(usbContext->getlibusbContext(), &deviceList);
    if (deviceCount < 0) {
        Log::error("Can't get the list of USB devices !");
        return CalcChoice::Unopened;
    }
    libusb_device* device = nullptr;
    CalcDescription calc;
    CalcChoice choice = choose(deviceList, static_cast<int>(deviceCount), chosen, &device, &calc);
    if (choice == CalcChoice::Opened && (calc.kind == CalcKind::Drive || calc.busy)) {
        choice = calc.kind == CalcKind::Drive ? CalcChoice::IsDrive : CalcChoice::Busy;
    }
    if (choice == CalcChoice::Opened) {
        // An open handle keeps its device alive once the list is freed.
        *handle = openAndClaim(usbContext, device);
        choice = *handle != nullptr ? CalcChoice::Opened : CalcChoice::Unopened;
    }
    libusb_free_device_list(deviceList, 1);
    const bool oneChosen = choice != CalcChoice::SeveralAttached && choice != CalcChoice::Ambiguous;
    if (description != nullptr && device != nullptr && oneChosen) {
        *description = calc;
    }
    return choice;
}
