#include "CalcConnector.h"

#include "Log.h"

namespace {

bool matches(libusb_device* device, unsigned short idVendor, unsigned short idProduct) {
    libusb_device_descriptor deviceDescriptor;
    if (libusb_get_device_descriptor(device, &deviceDescriptor) != 0) {
        Log::info("Buggy USB peripheral encountered !");
        return false;
    }
    return deviceDescriptor.idVendor == idVendor && deviceDescriptor.idProduct == idProduct;
}

} // namespace

libusb_device_handle* CalcConnector::connect(UsbContext* usbContext) {
    Log::info("Openning socket to calc...");
    libusb_device* device = findCalcDevice(usbContext, calcVendorId, calcProductId);
    if (device == nullptr) {
        Log::error("Failed to find the calc !");
        Log::info("Check the receive mode ?");
        return nullptr;
    }
    libusb_device_handle* deviceHandle = openDevice(usbContext, device);
    // An open handle keeps the device alive by itself; the search's reference can go.
    libusb_unref_device(device);
    if (deviceHandle != nullptr && claimInterface(deviceHandle)) {
        libusb_close(deviceHandle);
        deviceHandle = nullptr;
    }
    if (deviceHandle == nullptr) {
        Log::error("Calc is detected but impossible to connect !");
        return nullptr;
    }
    Log::info("Socket connected !");
    return deviceHandle;
}

libusb_device_handle* CalcConnector::openDevice(UsbContext* /*usbContext*/, libusb_device* device) {
    Log::info("Openning socket to calc");
    libusb_device_handle* deviceHandle = nullptr;
    int result = libusb_open(device, &deviceHandle);
    if (result == 0) {
        return deviceHandle;
    }
    if (result == LIBUSB_ERROR_ACCESS) {
        Log::error("Not enought permission to open the calculator, run as root or add a rule to "
                   "udev !");
    } else {
        Log::error("Unknown error while opening the socket to the calculator !");
    }
    return nullptr;
}

bool CalcConnector::claimInterface(libusb_device_handle* deviceHandle) {
    // Where drivers cannot be queried or detached there is nothing to detach.
    if (libusb_kernel_driver_active(deviceHandle, calcInterface) == 1 &&
        libusb_detach_kernel_driver(deviceHandle, calcInterface) != 0) {
        Log::warning("Can't detach the kernel driver from the calculator !");
    }
    const int result = libusb_claim_interface(deviceHandle, calcInterface);
    if (result == 0) {
        return false;
    }
    if (result == LIBUSB_ERROR_BUSY) {
        Log::error("The calculator is in use by another program !");
    } else {
        Log::error("Can't claim the calculator's USB interface !");
    }
    return true;
}

libusb_device* CalcConnector::findCalcDevice(UsbContext* usbContext, unsigned short idVendor,
                                             unsigned short idProduct) {
    Log::debug("Reading USB device list ...");
    libusb_device** deviceList = nullptr;
    int deviceCount =
        static_cast<int>(libusb_get_device_list(usbContext->getlibusbContext(), &deviceList));
    if (deviceCount < 0) {
        Log::error("Can't get the list of USB devices !");
        return nullptr;
    }

    libusb_device* device = nullptr;
    for (int idx = 0; idx < deviceCount; ++idx) {
        Log::debug("Checking a USB peripheral ...");
        if (matches(deviceList[idx], idVendor, idProduct)) {
            // Freeing the list unreferences its devices; keep ours alive until it is opened.
            device = libusb_ref_device(deviceList[idx]);
            Log::debug("Found the calculator over USB !");
            break;
        }
    }
    libusb_free_device_list(deviceList, 1);

    if (device == nullptr) {
        Log::error("Can't find the calculator's USB peripheral !");
    }
    return device;
}
