#include "CasioProtocolTools.h"

#include "Log.h"
#include "SocketTools.h"

namespace {

constexpr int connectPacketCapacity = 1024;
constexpr int answerCapacity = 4096;

// The answer's extended data is handed back to the caller, so it outlives the call.
unsigned char answerData[answerCapacity];
Buffer answerBuffer(answerData, answerCapacity);

bool isResendRequest(const CasioPacketInfo& info) {
    return info.type == CasioProtocolTools::typeRefusal &&
           info.subtype == CasioProtocolTools::subtypeResend;
}

} // namespace

bool CasioProtocolTools::isPacket(const CasioPacketInfo& packet, unsigned char type,
                                  unsigned char subtype) {
    return packet.type == type && packet.subtype == subtype;
}

bool CasioProtocolTools::connectProtocol(Socket* socket, int maxRetry) {
    unsigned char dataBuffer[connectPacketCapacity];
    Buffer packetBuffer(dataBuffer, connectPacketCapacity);
    Buffer emptyData(nullptr, 0);

    socket->beginExchange();
    // A lone zero byte ahead of the first request; whether it went out does not matter.
    unsigned char gapFillingData[1] = {0x00};
    Buffer gapFillingBuffer(gapFillingData, 1);
    SocketTools::sendBufferOrTimeout(socket, &gapFillingBuffer, sendTries);

    for (int trycount = 0; trycount < maxRetry; ++trycount) {
        CasioPacketInfo packetInfo = {typeConnect, 0x00, &emptyData};
        packetBuffer.setSize(connectPacketCapacity);
        if (CasioPacker::pack(packetInfo, &packetBuffer)) {
            Log::error("Failed to pack the connect request !");
            return true;
        }
        Log::info("Sending connection packet ...");
        if (!sendPacketAndAck(socket, &packetBuffer, connectTimeout)) {
            Log::info("Protocol connected !");
            return false;
        }
        Log::error("Failed to send and ACK connection packet !");
    }
    return true;
}

bool CasioProtocolTools::disconnectProtocol(Socket* socket, int maxRetry) {
    Buffer emptyExtraBuffer(nullptr, 0);
    CasioPacketInfo info = {typeDisconnect, 0x00, &emptyExtraBuffer};
    unsigned char dataBuffer[connectPacketCapacity];
    Buffer packetBuffer(dataBuffer, connectPacketCapacity);

    if (CasioPacker::pack(info, &packetBuffer)) {
        Log::error("Failed to pack the disconnect signal!");
        return true;
    }
    // The calculator does not answer a disconnect signal; nothing is read.
    socket->beginExchange();
    if (SocketTools::sendBufferOrTimeout(socket, &packetBuffer, maxRetry)) {
        Log::error("Failed to send the disconnect packet !");
        return true;
    }
    return false;
}

bool CasioProtocolTools::sendPacketAndGetAnswer(Socket* socket, Buffer* packet, int timeout,
                                                CasioPacketInfo* result) {
    unsigned char answerPacketData[answerCapacity];
    Buffer answerPacketBuffer(answerPacketData, answerCapacity);
    int resendRequests = 0;
    // A calculator that stopped answering is not sent packets it will not answer.
    if (socket->calcIsSilent()) {
        return true;
    }
    socket->beginExchange();

    int trycount = 0;
    while (trycount < timeout) {
        Log::debug("Sending message ...");
        if (SocketTools::sendBufferOrTimeout(socket, packet, sendTries)) {
            return true;
        }

        Log::debug("Sending waiting for ack message ...");
        answerPacketBuffer.setSize(answerCapacity);
        if (receivePacket(socket, &answerPacketBuffer)) {
            // Sending again cannot help a calculator that has stopped answering.
            if (socket->shouldGiveUp()) {
                return true;
            }
            ++trycount;
            continue;
        }

        Log::debug("Reading ack message ...");
        answerBuffer.setSize(answerCapacity);
        CasioPacketInfo info = {0, 0, &answerBuffer};
        if (CasioPacker::unpack(&info, &answerPacketBuffer)) {
            return true;
        }
        if (isResendRequest(info)) {
            if (++resendRequests > maxResendRequests) {
                Log::error("The calc keeps asking to send again !");
                return true;
            }
            if (socket->shouldGiveUp()) {
                return true;
            }
            continue;
        }
        *result = info;
        return false;
    }
    return true;
}

bool CasioProtocolTools::sendPacketAndAck(Socket* socket, Buffer* packet, int timeout) {
    CasioPacketInfo info = {0, 0, nullptr};
    if (sendPacketAndGetAnswer(socket, packet, timeout, &info)) {
        Log::error("Failed to send or get an answer from the calc !");
        return true;
    }
    if (info.type != typeAck || info.subtype != 0x00) {
        Log::error("Unexpected answer while reading ACK !");
        return true;
    }
    return false;
}

bool CasioProtocolTools::sendAck(Socket* socket, int timeout) {
    unsigned char ackData[CasioPacker::packetSizeWithoutData];
    Buffer ackPacket(ackData, CasioPacker::packetSizeWithoutData);
    Buffer emptyExtraData(nullptr, 0);
    CasioPacketInfo info = {typeAck, 0x00, &emptyExtraData};
    // Six bytes always hold a packet without extended data.
    CasioPacker::pack(info, &ackPacket);
    return SocketTools::sendBufferOrTimeout(socket, &ackPacket, timeout);
}

bool CasioProtocolTools::sendBarePacket(Socket* socket, unsigned char type, unsigned char subtype) {
    unsigned char packetData[CasioPacker::packetSizeWithoutData];
    Buffer packet(packetData, CasioPacker::packetSizeWithoutData);
    Buffer noData(nullptr, 0);
    // Six bytes always hold a packet without extended data.
    CasioPacker::pack({type, subtype, &noData}, &packet);
    return SocketTools::sendBufferOrTimeout(socket, &packet, sendTries);
}

bool CasioProtocolTools::terminateProtocol(Socket* socket, unsigned char reason) {
    unsigned char packetData[CasioPacker::packetSizeWithoutData];
    Buffer packet(packetData, CasioPacker::packetSizeWithoutData);
    Buffer noData(nullptr, 0);
    CasioPacker::pack({typeDisconnect, reason, &noData}, &packet);
    // A calculator that stopped answering is still told, in case it listens.
    if (socket->calcIsSilent()) {
        sendBarePacket(socket, typeDisconnect, reason);
        Log::error("The calc did not acknowledge the end of the link !");
        return true;
    }
    if (sendPacketAndAck(socket, &packet, 1)) {
        Log::error("The calc did not acknowledge the end of the link !");
        return true;
    }
    return false;
}

bool CasioProtocolTools::receivePacket(Socket* socket, Buffer* packet) {
    const int capacity = packet->getSize();
    SocketTools::receiveBufferOrTimeout(socket, packet, receiveTries,
                                        CasioPacker::packetSizeWithoutData);
    int received = packet->getSize();
    // The header tells more as it arrives: whether data follows, then how much. A packet that
    // has begun comes without pause, so a receive that brings nothing ends it.
    for (;;) {
        Buffer head(packet->getData(), received);
        const int announced = CasioPacker::announcedSize(&head);
        if (received == 0 || received >= announced || announced > capacity ||
            socket->shouldGiveUp()) {
            break;
        }
        Buffer rest(packet->getData() + received, capacity - received);
        SocketTools::receiveBufferOrTimeout(socket, &rest, 1, announced - received);
        if (rest.getSize() == 0) {
            break;
        }
        received += rest.getSize();
    }
    packet->setSize(received);
    return received == 0;
}
