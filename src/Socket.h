#pragma once

#include "Buffer.h"
#include "LinkLimits.h"

#include <cstdint>
#include <libusb.h>

enum SOCKET_RESULT : uint32_t {
    SOCKET_OK = 0,
    SOCKET_ERROR = 1,
};

// A bulk channel over one opened device handle, which it owns and closes. It also keeps the
// time the calculator has been silent and the age of the current exchange, so that the loops
// above it know when to stop waiting.
class Socket {
public:
    static constexpr unsigned char sendEndpoint = 0x01;
    static constexpr unsigned char receiveEndpoint = 0x82;
    static constexpr unsigned int transferTimeoutMs = LinkLimits::transferTimeoutMs;

    Socket();
    ~Socket();

    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;

    bool setDeviceHandle(libusb_device_handle* newDeviceHandle);
    // After a transfer the Buffer's size is the count of bytes that moved, also when the
    // transfer failed part way.
    SOCKET_RESULT sendBuffer(Buffer* bufferToSend);
    SOCKET_RESULT receiveBuffer(Buffer* bufferToFill);
    bool bulkTransfereBuffer(Buffer* bufferToUse, unsigned char endpoint);
    // One receive for a listener, to whom silence is no error: SOCKET_OK with what arrived
    // within the transfer timeout, nothing at all included, or SOCKET_ERROR when the
    // calculator cannot be read (unplugged, say). Prints nothing either way.
    SOCKET_RESULT listen(Buffer* bufferToFill);

    // How long to wait for the calculator from now on; LinkLimits::normal until changed.
    void setPatience(LinkPatience newPatience);
    // Starts the clock of one exchange: a packet sent and its answer, or a packet received
    // and its acknowledgement.
    void beginExchange();
    // True once the calculator has been silent too long, the exchange has lasted too long, or
    // the program asked the link to stop (LinkInterrupt) and the socket heeds that. Loops stop
    // trying then; the first two causes are reported once each. (A device gone fails every
    // try at once: its tries cost no time.)
    bool shouldGiveUp();
    bool calcIsSilent() const;
    // The device left the bus (a transfer found no device): nothing will get through again.
    bool deviceGone() const { return gone; }
    // Marks the session as one the calculator cannot follow any more, such as a turn of its
    // own abandoned half-way: no command may be sent in it, only the terminate.
    void abandonSession() { abandoned = true; }
    // The session was ended with the terminate before its time (the host could take no more
    // of a turn): only a new session can follow, and nothing need end this one.
    void markTerminated() { terminated = true; }
    bool isTerminated() const { return terminated; }
    // Whether commands can still be sent: the calculator answers, is there, and follows.
    bool sessionUsable() const { return !abandoned && !terminated && !gone && !calcIsSilent(); }
    // Closing the link ends the session properly even after a stop was asked for.
    void ignoreInterrupt() { heedsInterrupt = false; }

private:
    void close();
    int transfer(Buffer* bufferToUse, unsigned char endpoint);
    void account(unsigned char endpoint, int processed, bool failed, long long elapsedMs);
    bool calcStoppedAnswering();
    bool exchangeOverdue();

    libusb_device_handle* deviceHandle = nullptr;
    bool isConnected;
    LinkPatience patience = LinkLimits::normal;
    long long silentMs = 0;
    bool silenceReported = false;
    long long exchangeStartMs = -1; // no exchange yet
    bool overdueReported = false;
    bool gone = false;
    bool abandoned = false;
    bool terminated = false;
    bool heedsInterrupt = true;
};
