#pragma once

#include "Socket.h"
#include "UsbContext.h"

#include <optional>

// The program's link to the calculator: the USB context, the opened device and, for the
// storage commands, the session opened over it. Closing ends the session properly (a
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
    // The device and a session. False after reporting why.
    bool openSession();
    // Ends the session and opens a fresh one, for a command that must start again. False
    // after reporting why; the link is closed then.
    bool restartSession();
    // Ends the session (telling the calculator the user asked, when `interrupted`) and lets
    // go of the device. False when the calculator did not acknowledge the end.
    bool close(bool interrupted);

    bool isOpen() const { return calcSocket.has_value(); }
    // The open device's socket; null when the link is closed.
    Socket* socket() { return calcSocket ? &*calcSocket : nullptr; }

private:
    UsbContext context;
    bool contextReady = false;
    std::optional<Socket> calcSocket;
    bool sessionOpen = false;
};
