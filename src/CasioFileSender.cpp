#include "CasioFileSender.h"

#include "CasioCommandHeader.h"
#include "CasioDataPart.h"
#include "CasioPacker.h"
#include "CasioProtocolTools.h"
#include "CasioStorage.h"
#include "LinkInterrupt.h"
#include "Log.h"
#include "SocketTools.h"

#include <algorithm>
#include <cstring>

namespace {

using Tools = CasioProtocolTools;

constexpr int requestTimeout = 5;
constexpr int partTimeout = 10;
constexpr int packetArea = CasioPacker::maxSentExtendedDataSize + CasioPacker::extendedDataOverhead;

void noteRefusal(int* refusal, int value) {
    if (refusal != nullptr) {
        *refusal = value;
    }
}

int partsOf(const CasioOutgoing& outgoing) {
    return CasioDataPart::partsFor(outgoing.command.size);
}

// Packs part `index` (from 0) of what goes out into `packet`: the image's bytes, then zeros.
bool packPart(const CasioOutgoing& outgoing, int index, Buffer* packet) {
    const int offset = index * CasioFileSender::partSize;
    const int total = static_cast<int>(outgoing.command.size);
    const int length = std::min(CasioFileSender::partSize, total - offset);
    const int fromImage = std::max(0, std::min(length, outgoing.image->getSize() - offset));
    unsigned char bytes[CasioFileSender::partSize] = {};
    if (fromImage > 0) {
        memcpy(bytes, outgoing.image->getData() + offset, fromImage);
    }
    const CasioPart part = {partsOf(outgoing), index + 1, Buffer(bytes, length)};
    unsigned char data[CasioDataPart::headerSize + CasioFileSender::partSize];
    Buffer dataBuffer(data, sizeof data);
    return CasioDataPart::build(part, &dataBuffer) ||
           CasioPacker::pack({Tools::typeData, outgoing.code, &dataBuffer}, packet);
}

// The answer to a part sent earlier, read whole: true unless it is a plain acknowledgement.
bool readPartAnswer(Socket* socket) {
    socket->beginExchange();
    unsigned char packetData[CasioPacker::maxReceivedPacketSize];
    Buffer packet(packetData, sizeof packetData);
    CasioReceivedPacket answer;
    if (Tools::receivePacket(socket, &packet) || CasioPacker::unpack(&answer.info, &packet)) {
        return true;
    }
    return !Tools::isPlainAck(answer.info);
}

// A stop asked for (Ctrl-C) ends the file before its next part, not after its last.
bool stopAsked() {
    if (!LinkInterrupt::requested()) {
        return false;
    }
    Log::debug("Stopped before the next part, as asked");
    return true;
}

} // namespace

bool CasioFileSender::sendFile(Socket* socket, const CasioUpload& upload,
                               CasioSendListener* listener, int* refusal) {
    noteRefusal(refusal, CasioStorage::notRefused);
    if (upload.image->getSize() <= 0 || upload.image->getSize() > maxFileSize) {
        Log::error("The file is empty or bigger than the calc takes !");
        return true;
    }
    CasioOutgoing file = {CasioStorage::commandFile,
                          CasioCommandHeader::naming(upload.folder, upload.name, upload.device),
                          upload.image, upload.overwrite, upload.pipelined};
    file.command.dataType = fileDataType;
    file.command.size = static_cast<uint32_t>(upload.image->getSize());
    return send(socket, file, listener, refusal);
}

bool CasioFileSender::send(Socket* socket, const CasioOutgoing& outgoing,
                           CasioSendListener* listener, int* refusal) {
    noteRefusal(refusal, CasioStorage::notRefused);
    if (offer(socket, outgoing, refusal)) {
        return true;
    }
    return outgoing.pipelined ? sendPartsPipelined(socket, outgoing, listener, refusal)
                              : sendPartsInTurn(socket, outgoing, listener, refusal);
}

// The command; an existing file or item is replaced or left, as asked.
bool CasioFileSender::offer(Socket* socket, const CasioOutgoing& outgoing, int* refusal) {
    CasioStorageCommand command = outgoing.command;
    command.overwriteMode =
        outgoing.overwrite ? CasioCommandHeader::modeOverwrite : CasioCommandHeader::modeAsk;
    CasioReceivedPacket answer;
    if (CasioStorage::exchangeCommand(socket, outgoing.code, command, &answer.info)) {
        return true;
    }
    if (Tools::isPlainAck(answer.info)) {
        return false;
    }
    if (!Tools::isPacket(answer.info, Tools::typeRefusal, Tools::subtypeExists)) {
        return CasioStorage::rejectAnswer(answer.info, refusal);
    }
    // The calculator asks whether to replace it; it acknowledges either answer.
    if (outgoing.overwrite) {
        return Tools::sendBarePacketAndAck(socket, Tools::typeAck, Tools::subtypeOverwriteYes,
                                           requestTimeout);
    }
    Tools::sendBarePacketAndAck(socket, Tools::typeRefusal, Tools::subtypeOverwriteRefused,
                                requestTimeout);
    return CasioStorage::rejectAnswer(answer.info, refusal);
}

bool CasioFileSender::sendPartsInTurn(Socket* socket, const CasioOutgoing& outgoing,
                                      CasioSendListener* listener, int* refusal) {
    const int partCount = partsOf(outgoing);
    for (int index = 0; index < partCount; ++index) {
        if (stopAsked()) {
            return true;
        }
        unsigned char packetData[packetArea];
        Buffer packet(packetData, packetArea);
        if (packPart(outgoing, index, &packet)) {
            return true;
        }
        CasioReceivedPacket answer;
        if (Tools::sendPacketAndGetAnswer(socket, &packet, partTimeout, &answer.info)) {
            // A calculator gone from the bus is said so by the caller, in its own words.
            if (!socket->deviceGone()) {
                Log::error("No answer from the calc to a part of the file !");
            }
            return true;
        }
        if (!Tools::isPlainAck(answer.info)) {
            return CasioStorage::rejectAnswer(answer.info, refusal);
        }
        if (listener != nullptr) {
            listener->partsAcknowledged(index + 1, partCount);
        }
    }
    return false;
}

// Part k goes out, then the answer to part k - 1 is read: answers trail by one, and the last
// is read before anything else is sent.
bool CasioFileSender::sendPartsPipelined(Socket* socket, const CasioOutgoing& outgoing,
                                         CasioSendListener* listener, int* refusal) {
    const int partCount = partsOf(outgoing);
    for (int index = 0; index <= partCount; ++index) {
        const bool sendsPart = index < partCount;
        const bool readsAnswer = index > 0;
        if (sendsPart && stopAsked()) {
            // The part in flight is still owed its answer.
            if (readsAnswer) {
                readPartAnswer(socket);
            }
            return true;
        }
        socket->beginExchange();
        unsigned char packetData[packetArea];
        Buffer packet(packetData, packetArea);
        const bool sendFailed =
            sendsPart &&
            (packPart(outgoing, index, &packet) ||
             SocketTools::sendBufferOrTimeout(socket, &packet, CasioProtocolTools::sendTries));
        const bool answerWrong = readsAnswer && readPartAnswer(socket);
        if (sendFailed || answerWrong) {
            // The part in flight is owed an answer; a silent calculator owes nothing more.
            if (sendsPart && !sendFailed && !socket->calcIsSilent()) {
                readPartAnswer(socket);
            }
            noteRefusal(refusal, pipelineBroken);
            Log::debug("A pipelined part was not simply acknowledged");
            return true;
        }
        if (readsAnswer && listener != nullptr) {
            listener->partsAcknowledged(index, partCount);
        }
    }
    return false;
}
