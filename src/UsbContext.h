#pragma once

#include "Log.h"

#include <libusb.h>

// Owns the libusb context. The destructor deliberately keeps it: the programs let it
// live until the process ends.
class UsbContext {
public:
    UsbContext();
    ~UsbContext();

    UsbContext(const UsbContext&) = delete;
    UsbContext& operator=(const UsbContext&) = delete;

    bool initUsbContext();
    void deinitUsbContext();
    libusb_context* getlibusbContext();

private:
    Log logger;
    libusb_context* libusbContext;
};
