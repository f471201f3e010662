#pragma once

#include "Wire.h"

#include <optional>

// The device's end of the cable: what it does with the host's bulk OUT transfers and what
// it has ready for the bulk IN transfers. The emulator calls it from one thread at a time.
class UsbPeer {
public:
    virtual ~UsbPeer() = default;

    // A program opened the device: a new session begins.
    virtual void deviceOpened() = 0;
    // The bytes of one OUT transfer.
    virtual void received(const Bytes& bytes) = 0;
    // The host submitted an IN transfer: from here on it waits for the device to speak.
    virtual void inTransferStarted() = 0;
    // The bytes for an IN transfer of at most `maxLength` bytes, or nothing yet.
    virtual std::optional<Bytes> nextAnswer(size_t maxLength) = 0;
    // The host gave up on an IN transfer when its timeout expired.
    virtual void inTransferAbandoned() = 0;
    // Gone from the bus: every transfer fails from now on.
    virtual bool unplugged() const = 0;
    // The host program has exited.
    virtual void hostGone() = 0;
};
