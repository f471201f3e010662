#pragma once

#include "CalcChooser.h"
#include "Socket.h"
#include "UsbContext.h"

#include <optional>
#include <string>

// The program's link to one calculator: the USB context, the opened device and, for the
// storage commands, the session opened over it. The calculator is the one a user chose, by
// address or serial, or else the only one attached. Closing ends the session properly (a
// terminate the calculator acknowledges) and lets go of the device and the context, so that a
// link can be opened afresh, to a calculator plugged in again; the destructor closes whatever
// is still open.
class Link {
public:
    // `chosen` is an address or a serial; empty for the only calculator attached.
    explicit Link(std::string chosen = "") : chosen(std::move(chosen)) {}
    ~Link();

    Link(const Link&) = delete;
    Link& operator=(const Link&) = delete;

    // The device alone, for reading what the calculator sends. False when it cannot be opened:
    // lastChoice() tells why, for the caller to say (CalcList::whatToDo).
    bool openDevice();
    // The device and a session. False when the device cannot be opened (as above), or after
    // reporting why no session could be opened on it.
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
    // How the last opening went: why it failed, when it did.
    CalcChoice lastChoice() const { return choice; }

private:
    std::string chosen;
    CalcChoice choice = CalcChoice::Opened;
    UsbContext context;
    bool contextReady = false;
    std::optional<Socket> calcSocket;
    bool sessionOpen = false;
};
