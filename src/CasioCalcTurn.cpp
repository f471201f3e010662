#include "CasioCalcTurn.h"

#include "CasioProtocolTools.h"
#include "LinkInterrupt.h"
#include "Log.h"

bool CasioCalcTurn::run(Socket* socket, CasioTurnListener* listener) {
    // The calculator may still hold the active role: the session can only be ended now.
    if (takeTurn(socket, listener)) {
        socket->abandonSession();
        return true;
    }
    return false;
}

bool CasioCalcTurn::takeTurn(Socket* socket, CasioTurnListener* listener) {
    socket->beginExchange();
    if (CasioProtocolTools::sendBarePacket(socket, CasioProtocolTools::typeRoleSwap, 0x00)) {
        Log::error("Failed to hand the link to the calc !");
        return true;
    }
    unsigned char packetData[CasioPacker::maxReceivedPacketSize];
    for (;;) {
        Buffer packet(packetData, sizeof packetData);
        CasioReceivedPacket received;
        if (LinkInterrupt::requested() || receiveIntact(socket, &packet, &received.info)) {
            return true;
        }
        if (received.info.type == CasioProtocolTools::typeRoleSwap) {
            return false;
        }
        listener->packetReceived(received.info);
        if (listener->takesNoMore()) {
            endTurnEarly(socket);
            return true;
        }
        if (CasioProtocolTools::sendAck(socket, CasioProtocolTools::sendTries)) {
            Log::error("Failed to acknowledge a packet of the calc !");
            return true;
        }
    }
}

// The calculator waits for the acknowledgement of what it sent last; the terminate answers it
// instead, and the calculator acknowledges that.
void CasioCalcTurn::endTurnEarly(Socket* socket) {
    CasioProtocolTools::terminateProtocol(socket, CasioProtocolTools::terminateUserAsked);
    socket->markTerminated();
}

bool CasioCalcTurn::receiveIntact(Socket* socket, Buffer* packet, CasioPacketInfo* info) {
    const int packetArea = packet->getSize();
    const int dataArea = info->extendedData->getSize();
    for (int resendRequests = 0;; ++resendRequests) {
        socket->beginExchange();
        packet->setSize(packetArea);
        if (CasioProtocolTools::receivePacket(socket, packet)) {
            Log::error("The calc stopped sending in the middle of its turn !");
            return true;
        }
        info->extendedData->setSize(dataArea);
        if (!CasioPacker::unpack(info, packet)) {
            return false;
        }
        if (resendRequests == maxResendRequests || socket->shouldGiveUp()) {
            Log::error("The calc keeps sending damaged packets !");
            return true;
        }
        Log::warning("Asking the calc to send its packet again");
        if (CasioProtocolTools::sendBarePacket(socket, CasioProtocolTools::typeRefusal,
                                               CasioProtocolTools::subtypeResend)) {
            return true;
        }
    }
}
