#pragma once

#include "CasioPacker.h"
#include "Socket.h"

// What the caller does with each packet the calculator sends while it is the active side.
class CasioTurnListener {
public:
    // `packet.extendedData` views storage that the next packet reuses.
    virtual void packetReceived(const CasioPacketInfo& packet) = 0;
    // True once the caller can take nothing more of what the calculator sends (a reader gone
    // away, a full disk): the turn then ends at once, with the terminate in place of the
    // acknowledgement, rather than after the last part.
    virtual bool takesNoMore() const { return false; }

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
    // in no state to go on, but to be terminated; or, when the listener took no more, it has
    // been terminated already (Socket::isTerminated).
    static bool run(Socket* socket, CasioTurnListener* listener);

private:
    static bool takeTurn(Socket* socket, CasioTurnListener* listener);
    static void endTurnEarly(Socket* socket);
    // The next packet, intact, asking for it again while it arrives damaged.
    static bool receiveIntact(Socket* socket, Buffer* packet, CasioPacketInfo* info);
};
