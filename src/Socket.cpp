#include "Socket.h"

#include "CalcConnector.h"
#include "LinkClock.h"
#include "LinkInterrupt.h"
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
    silentMs = 0;
    silenceReported = false;
    gone = false;
    abandoned = false;
    terminated = false;
    return false;
}

SOCKET_RESULT Socket::sendBuffer(Buffer* bufferToSend) {
    if (bulkTransfereBuffer(bufferToSend, sendEndpoint)) {
        Log::detailError("receiveBuffer: Error sending bulk");
        return SOCKET_ERROR;
    }
    return SOCKET_OK;
}

SOCKET_RESULT Socket::receiveBuffer(Buffer* bufferToFill) {
    if (bulkTransfereBuffer(bufferToFill, receiveEndpoint)) {
        Log::detailError("receiveBuffer: Error receiving bulk");
        return SOCKET_ERROR;
    }
    return SOCKET_OK;
}

bool Socket::bulkTransfereBuffer(Buffer* bufferToUse, unsigned char endpoint) {
    if (!isConnected) {
        Log::detailError("bulkTransfere: Not connected !");
        bufferToUse->setSize(0);
        return true;
    }
    if (transfer(bufferToUse, endpoint) != 0) {
        Log::detailError("bulkTransfereBuffer: Error in bulk transfere");
        return true;
    }
    return false;
}

SOCKET_RESULT Socket::listen(Buffer* bufferToFill) {
    if (!isConnected) {
        bufferToFill->setSize(0);
        return SOCKET_ERROR;
    }
    const int result = transfer(bufferToFill, receiveEndpoint);
    return result == 0 || result == LIBUSB_ERROR_TIMEOUT ? SOCKET_OK : SOCKET_ERROR;
}

// The libusb result of one transfer; the Buffer's size is then the count of bytes that moved,
// also when the transfer failed part way (a timeout, typically).
int Socket::transfer(Buffer* bufferToUse, unsigned char endpoint) {
    int processed = 0;
    const long long start = LinkClock::milliseconds();
    const int result = libusb_bulk_transfer(deviceHandle, endpoint, bufferToUse->getData(),
                                            bufferToUse->getSize(), &processed, transferTimeoutMs);
    bufferToUse->setSize(processed);
    account(endpoint, processed, result != 0, LinkClock::milliseconds() - start);
    gone = gone || result == LIBUSB_ERROR_NO_DEVICE;
    return result;
}

// Only bytes from the calculator end a silence. Waiting in vain for an answer adds to it, and
// so does waiting for a calculator that takes nothing we send.
void Socket::account(unsigned char endpoint, int processed, bool failed, long long elapsedMs) {
    if (endpoint == receiveEndpoint && processed > 0) {
        silentMs = 0;
        silenceReported = false;
    } else if (endpoint == receiveEndpoint || (failed && processed == 0)) {
        silentMs += elapsedMs;
    }
}

void Socket::setPatience(LinkPatience newPatience) {
    patience = newPatience;
}

void Socket::beginExchange() {
    exchangeStartMs = LinkClock::milliseconds();
    overdueReported = false;
}

bool Socket::calcIsSilent() const {
    return silentMs >= patience.silenceMs;
}

bool Socket::exchangeOverdue() {
    if (exchangeStartMs < 0 || LinkClock::milliseconds() - exchangeStartMs < patience.exchangeMs) {
        return false;
    }
    if (!overdueReported) {
        Log::error("The calc takes too long to answer !");
        overdueReported = true;
    }
    return true;
}

bool Socket::calcStoppedAnswering() {
    if (!calcIsSilent()) {
        return false;
    }
    if (!silenceReported) {
        Log::error("The calc does not answer !");
        silenceReported = true;
    }
    return true;
}

bool Socket::shouldGiveUp() {
    return (heedsInterrupt && LinkInterrupt::requested()) || calcStoppedAnswering() ||
           exchangeOverdue();
}
