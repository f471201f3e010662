#include "CasioProtocolTools.h"

#include "Log.h"
#include "SocketTools.h"

namespace {

// A packet without extended data, packed: the one place such packets are made.
class BarePacket {
public:
    BarePacket(unsigned char type, unsigned char subtype) : packet(bytes, sizeof bytes) {
        Buffer noData(nullptr, 0);
        // Six bytes always hold a packet without extended data.
        CasioPacker::pack({type, subtype, &noData}, &packet);
    }
    BarePacket(const BarePacket&) = delete;
    BarePacket& operator=(const BarePacket&) = delete;

    Buffer* buffer() { return &packet; }

private:
    unsigned char bytes[CasioPacker::packetSizeWithoutData];
    Buffer packet;
};

bool isResendRequest(const CasioPacketInfo& info) {
    return CasioProtocolTools::isPacket(info, CasioProtocolTools::typeRefusal,
                                        CasioProtocolTools::subtypeResend);
}

} // namespace

bool CasioProtocolTools::isPacket(const CasioPacketInfo& packet, unsigned char type,
                                  unsigned char subtype) {
    return packet.type == type && packet.subtype == subtype;
}

bool CasioProtocolTools::isPlainAck(const CasioPacketInfo& packet) {
    return isPacket(packet, typeAck, 0x00);
}

bool CasioProtocolTools::connectProtocol(Socket* socket, int maxRetry) {
    socket->beginExchange();
    // A lone zero byte ahead of the first request; whether it went out does not matter.
    unsigned char gapFillingData[1] = {0x00};
    Buffer gapFillingBuffer(gapFillingData, 1);
    SocketTools::sendBufferOrTimeout(socket, &gapFillingBuffer, sendTries);

    for (int trycount = 0; trycount < maxRetry; ++trycount) {
        Log::info("Sending connection packet ...");
        if (!sendBarePacketAndAck(socket, typeConnect, 0x00, connectTimeout)) {
            Log::info("Protocol connected !");
            return false;
        }
        Log::error("Failed to send and ACK connection packet !");
    }
    return true;
}

bool CasioProtocolTools::disconnectProtocol(Socket* socket, int maxRetry) {
    // The calculator does not answer a disconnect signal; nothing is read.
    socket->beginExchange();
    if (sendBarePacket(socket, typeDisconnect, 0x00, maxRetry)) {
        Log::error("Failed to send the disconnect packet !");
        return true;
    }
    return false;
}

bool CasioProtocolTools::sendPacketAndGetAnswer(Socket* socket, Buffer* packet, int timeout,
                                                CasioPacketInfo* result) {
    unsigned char answerPacketData[CasioPacker::maxReceivedPacketSize];
    Buffer answerPacketBuffer(answerPacketData, sizeof answerPacketData);
    const int dataArea = result->extendedData->getSize();
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
        answerPacketBuffer.setSize(sizeof answerPacketData);
        if (receivePacket(socket, &answerPacketBuffer)) {
            // Sending again cannot help a calculator that has stopped answering.
            if (socket->shouldGiveUp()) {
                return true;
            }
            ++trycount;
            continue;
        }

        Log::debug("Reading ack message ...");
        result->extendedData->setSize(dataArea);
        if (CasioPacker::unpack(result, &answerPacketBuffer)) {
            return true;
        }
        if (isResendRequest(*result)) {
            if (++resendRequests > maxResendRequests) {
                Log::error("The calc keeps asking to send again !");
                return true;
            }
            if (socket->shouldGiveUp()) {
                return true;
            }
            continue;
        }
        return false;
    }
    return true;
}

bool CasioProtocolTools::sendPacketAndAck(Socket* socket, Buffer* packet, int timeout) {
    CasioReceivedPacket answer;
    if (sendPacketAndGetAnswer(socket, packet, timeout, &answer.info)) {
        Log::error("Failed to send or get an answer from the calc !");
        return true;
    }
    if (!isPlainAck(answer.info)) {
        Log::error("Unexpected answer while reading ACK !");
        return true;
    }
    return false;
}

bool CasioProtocolTools::sendAck(Socket* socket, int timeout) {
    return sendBarePacket(socket, typeAck, 0x00, timeout);
}

bool CasioProtocolTools::sendBarePacket(Socket* socket, unsigned char type, unsigned char subtype,
                                        int tries) {
    BarePacket packet(type, subtype);
    return SocketTools::sendBufferOrTimeout(socket, packet.buffer(), tries);
}

bool CasioProtocolTools::exchangeBarePacket(Socket* socket, unsigned char type,
                                            unsigned char subtype, int timeout,
                                            CasioPacketInfo* result) {
    BarePacket packet(type, subtype);
    return sendPacketAndGetAnswer(socket, packet.buffer(), timeout, result);
}

bool CasioProtocolTools::sendBarePacketAndAck(Socket* socket, unsigned char type,
                                              unsigned char subtype, int timeout) {
    BarePacket packet(type, subtype);
    return sendPacketAndAck(socket, packet.buffer(), timeout);
}

bool CasioProtocolTools::terminateProtocol(Socket* socket, unsigned char reason) {
    // A calculator that stopped answering is still told, in case it listens.
    if (socket->calcIsSilent()) {
        sendBarePacket(socket, typeDisconnect, reason);
        Log::error("The calc did not acknowledge the end of the link !");
        return true;
    }
    if (sendBarePacketAndAck(socket, typeDisconnect, reason, 1)) {
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
