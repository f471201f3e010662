#pragma once

#include "Socket.h"
#include "UsbContext.h"

#include <optional>

// The program's link to the calculator: the USB context, the opened device and, for the
// storage commands, the protocol opened over it. Closing ends the protocol properly (a
// terminate the calculator acknowledges) and lets go of the device and the context, so that
// a link can be opened afresh, to a calculator plugged in again; the destructor closes
// whatever is still open.
class Link {
public:
    Link() = default;
    ~Link();

    Link(const Link&) = delete;
    Link& operator=(const Link&) = delete;

    // The device alone, for reading what the calculator sends. False after reporting why.
    bool openDevice();
    // The device and the protocol. False after reporting why.
    bool open();
    // Ends the protocol (telling the calculator the user asked, when `interrupted`) and lets
    // go of the device. False when the calculator did not acknowledge the end.
    bool close(bool interrupted);

    bool isOpen() const { return calcSocket.has_value(); }
    Socket* socket() { return &*calcSocket; }

private:
    UsbContext context;
    bool contextReady = false;
    std::optional<Socket> calcSocket;
    bool protocolOpen = false;
};
