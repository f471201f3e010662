#include "Socket.h"

#include "CalcConnector.h"
#include "Log.h"

Socket::Socket() : isConnected(false) {}

Socket::~Socket() {
    if (isConnected) {
        close();
    }
}

// A handle that was never claimed answers the release with an error, which changes nothing.
void Socket::close() {
    libusb_release_interface(deviceHandle, CalcConnector::calcInterface);
    libusb_close(deviceHandle);
}

bool Socket::setDeviceHandle(libusb_device_handle* newDeviceHandle) {
    if (newDeviceHandle == nullptr) {
        return true;
    }
    // A replaced handle would otherwise stay open for the life of the process.
    if (isConnected && deviceHandle != newDeviceHandle) {
        close();
    }
    deviceHandle = newDeviceHandle;
    isConnected = true;
    return false;
}

SOCKET_RESULT Socket::sendBuffer(Buffer* bufferToSend) {
    if (bulkTransfereBuffer(bufferToSend, sendEndpoint)) {
        Log::error("receiveBuffer: Error sending bulk");
        bufferToSend->setSize(0);
        return SOCKET_ERROR;
    }
    return SOCKET_OK;
}

SOCKET_RESULT Socket::receiveBuffer(Buffer* bufferToFill) {
    if (bulkTransfereBuffer(bufferToFill, receiveEndpoint)) {
        Log::error("receiveBuffer: Error receiving bulk");
        bufferToFill->setSize(0);
        return SOCKET_ERROR;
    }
    return SOCKET_OK;
}

bool Socket::bulkTransfereBuffer(Buffer* bufferToUse, unsigned char endpoint) {
    if (!isConnected) {
        Log::error("bulkTransfere: Not connected !");
        return true;
    }
    int processed = 0;
    int result = libusb_bulk_transfer(deviceHandle, endpoint, bufferToUse->getData(),
                                      bufferToUse->getSize(), &processed, transferTimeoutMs);
    bufferToUse->setSize(processed);
    if (result != 0) {
        Log::error("bulkTransfereBuffer: Error in bulk transfere");
        return true;
    }
    return false;
}
