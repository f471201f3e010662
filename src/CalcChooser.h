#pragma once

#include "CalcFinder.h"
#include "UsbContext.h"

#include <libusb.h>

// What came of choosing a calculator, and of opening it.
enum class CalcChoice {
    Opened,          // the handle is open with the interface claimed
    Found,           // chosen, of either kind, and not opened (CalcChooser::find)
    NoneAttached,    // nothing chosen, and no calculator attached
    SeveralAttached, // nothing chosen, and more than one attached: the caller must ask
    NotAttached,     // no attached calculator has the chosen address or serial
    Ambiguous,       // several attached calculators have the chosen serial
    IsDrive,         // the calculator is a drive, which the link code never opens
    Busy,            // another program holds it; it was not opened
    Unopened,        // it could not be opened or claimed, or the bus could not be read;
                     // the library said why
};

// Opens the calculator a user chose, by address or by serial, or the only one attached. A
// calculator counts whatever its kind, so that a choice stays the same when drive
// calculators get commands of their own.
class CalcChooser {
public:
    // `chosen` is an address ("1-4.2"), else a serial; null or empty chooses the only
    // calculator attached. A calculator that sysfs shows held is left alone. On Opened, `handle` is
    // the opened device with its interface claimed, to be released and closed by the caller;
    // otherwise it is null. `description` (if given) describes the calculator chosen, when there is
    // one.
    static CalcChoice open(UsbContext* usbContext, const char* chosen,
                           libusb_device_handle** handle, CalcDescription* description = nullptr);
    // The same choice, without opening anything: Found, with `description` filled, whatever
    // the calculator's kind and whether another program holds it.
    static CalcChoice find(UsbContext* usbContext, const char* chosen,
                           CalcDescription* description);
};
