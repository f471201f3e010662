#pragma once

#include "CasioPacker.h"
#include "Socket.h"

// What the caller does with each packet the calculator sends while it is the active side.
class CasioTurnListener {
public:
    // `packet.extendedData` views storage that the next packet reuses.
    virtual void packetReceived(const CasioPacketInfo& packet) = 0;

protected:
    ~CasioTurnListener() = default;
};

// The calculator's turn: after the host's role swap the calculator sends its own packets,
// each acknowledged before the next comes, until it swaps the roles back.
class CasioCalcTurn {
public:
    // A packet that arrives damaged is asked for again this many times at most.
    static constexpr int maxResendRequests = 5;

    // Hands the active role to the calculator, then checks, hands to `listener` and
    // acknowledges every packet it sends until it hands the role back. True when the turn
    // could not be completed: the session is then marked abandoned (Socket::sessionUsable),
    // in no state to go on, but to be terminated.
    static bool run(Socket* socket, CasioTurnListener* listener);

private:
    static bool takeTurn(Socket* socket, CasioTurnListener* listener);
    // The next packet, intact, asking for it again while it arrives damaged.
    static bool receiveIntact(Socket* socket, Buffer* packet, CasioPacketInfo* info);
};
