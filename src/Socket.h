#pragma once

#include "Buffer.h"

#include <cstdint>
#include <libusb.h>

enum SOCKET_RESULT : uint32_t {
    SOCKET_OK = 0,
    SOCKET_ERROR = 1,
};

// A bulk channel over one opened device handle, which it owns and closes.
class Socket {
public:
    static constexpr unsigned char sendEndpoint = 0x01;
    static constexpr unsigned char receiveEndpoint = 0x82;
    static constexpr unsigned int transferTimeoutMs = 2000;

    Socket();
    ~Socket();

    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;

    bool setDeviceHandle(libusb_device_handle* newDeviceHandle);
    SOCKET_RESULT sendBuffer(Buffer* bufferToSend);
    SOCKET_RESULT receiveBuffer(Buffer* bufferToFill);
    bool bulkTransfereBuffer(Buffer* bufferToUse, unsigned char endpoint);

private:
    void close();

    libusb_device_handle* deviceHandle = nullptr;
    bool isConnected;
};
