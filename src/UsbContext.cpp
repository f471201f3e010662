#include "UsbContext.h"

UsbContext::UsbContext() : libusbContext(nullptr) {}

UsbContext::~UsbContext() {}

bool UsbContext::initUsbContext() {
    if (libusb_init(&libusbContext) != 0) {
        logger.error("can't init libusb !\n");
        return true;
    }
    return false;
}

void UsbContext::deinitUsbContext() {
    libusb_exit(libusbContext);
    libusbContext = nullptr;
}

libusb_context* UsbContext::getlibusbContext() {
    if (libusbContext == nullptr) {
        logger.error("getlibusbContext: libusbContext => NULL !\n");
    }
    return libusbContext;
}
