#include "CasioCalcTurn.h"

#include "CasioProtocolTools.h"
#include "LinkInterrupt.h"
#include "Log.h"

namespace {

// A packet's escaped data is at most 1024 bytes; its restored data no more.
constexpr int packetCapacity = 2048;

} // namespace

bool CasioCalcTurn::run(Socket* socket, CasioTurnListener* listener) {
    socket->beginExchange();
    if (CasioProtocolTools::sendBarePacket(socket, CasioProtocolTools::typeRoleSwap, 0x00)) {
        Log::error("Failed to hand the link to the calc !");
        return true;
    }
    unsigned char packetData[packetCapacity];
    unsigned char data[packetCapacity];
    for (;;) {
        Buffer packet(packetData, packetCapacity);
        Buffer dataBuffer(data, packetCapacity);
        CasioPacketInfo info = {0, 0, &dataBuffer};
        if (LinkInterrupt::requested() || receiveIntact(socket, &packet, &info)) {
            return true;
        }
        if (info.type == CasioProtocolTools::typeRoleSwap) {
            return false;
        }
        listener->packetReceived(info);
        if (CasioProtocolTools::sendAck(socket, CasioProtocolTools::sendTries)) {
            Log::error("Failed to acknowledge a packet of the calc !");
            return true;
        }
    }
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
