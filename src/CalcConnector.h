#pragma once

#include "UsbContext.h"

#include <libusb.h>

// Finds the calculator on the USB bus and opens it.
class CalcConnector {
public:
    static constexpr unsigned short calcVendorId = 0x07CF;
    static constexpr unsigned short calcProductId = 0x6101;
    static constexpr int calcInterface = 0;

    // The opened calculator with its interface claimed, or null when it is missing or
    // cannot be opened or claimed.
    static libusb_device_handle* connect(UsbContext* usbContext);
    static libusb_device_handle* openDevice(UsbContext* usbContext, libusb_device* device);
    // The first device with these identifiers, or null. The caller holds a reference
    // to the device it gets and must drop it with libusb_unref_device.
    static libusb_device* findCalcDevice(UsbContext* usbContext, unsigned short idVendor,
                                         unsigned short idProduct);
    // Bulk transfers need the interface claimed; a kernel driver bound to it is detached
    // first. True on failure.
    static bool claimInterface(libusb_device_handle* deviceHandle);
};
