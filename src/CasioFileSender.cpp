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

// Packs part `index` (from 0) of `image` into `packet`.
bool packPart(Buffer* image, int index, Buffer* packet) {
    const int offset = index * CasioFileSender::partSize;
    const int length = std::min(CasioFileSender::partSize, image->getSize() - offset);
    const CasioPart part = {CasioDataPart::partsFor(image->getSize()), index + 1,
                            Buffer(image->getData() + offset, length)};
    unsigned char data[CasioDataPart::headerSize + CasioFileSender::partSize];
    Buffer dataBuffer(data, sizeof data);
    return CasioDataPart::build(part, &dataBuffer) ||
           CasioPacker::pack({Tools::typeData, CasioStorage::commandFile, &dataBuffer}, packet);
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
    if (offer(socket, upload, refusal)) {
        return true;
    }
    return upload.pipelined ? sendPartsPipelined(socket, upload.image, listener, refusal)
                            : sendPartsInTurn(socket, upload.image, listener, refusal);
}

// The file command; an existing file is replaced or left, as the upload says.
bool CasioFileSender::offer(Socket* socket, const CasioUpload& upload, int* refusal) {
    CasioStorageCommand command =
        CasioCommandHeader::naming(upload.folder, upload.name, upload.device);
    command.overwriteMode =
        upload.overwrite ? CasioCommandHeader::modeOverwrite : CasioCommandHeader::modeAsk;
    command.dataType = fileDataType;
    command.size = static_cast<uint32_t>(upload.image->getSize());
    CasioReceivedPacket answer;
    if (CasioStorage::exchangeCommand(socket, CasioStorage::commandFile, command, &answer.info)) {
        return true;
    }
    if (Tools::isPlainAck(answer.info)) {
        return false;
    }
    if (!Tools::isPacket(answer.info, Tools::typeRefusal, Tools::subtypeExists)) {
        return CasioStorage::rejectAnswer(answer.info, refusal);
    }
    // The calculator asks whether to replace the file; it acknowledges either answer.
    if (upload.overwrite) {
        return Tools::sendBarePacketAndAck(socket, Tools::typeAck, Tools::subtypeOverwriteYes,
                                           requestTimeout);
    }
    Tools::sendBarePacketAndAck(socket, Tools::typeRefusal, Tools::subtypeOverwriteRefused,
                                requestTimeout);
    return CasioStorage::rejectAnswer(answer.info, refusal);
}

bool CasioFileSender::sendPartsInTurn(Socket* socket, Buffer* image, CasioSendListener* listener,
                                      int* refusal) {
    const int partCount = CasioDataPart::partsFor(image->getSize());
    for (int index = 0; index < partCount; ++index) {
        if (stopAsked()) {
            return true;
        }
        unsigned char packetData[packetArea];
        Buffer packet(packetData, packetArea);
        if (packPart(image, index, &packet)) {
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
        listener->partsAcknowledged(index + 1, partCount);
    }
    return false;
}

// Part k goes out, then the answer to part k - 1 is read: answers trail by one, and the last
// is read before anything else is sent.
bool CasioFileSender::sendPartsPipelined(Socket* socket, Buffer* image, CasioSendListener* listener,
                                         int* refusal) {
    const int partCount = CasioDataPart::partsFor(image->getSize());
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
            (packPart(image, index, &packet) ||
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
        if (readsAnswer) {
            listener->partsAcknowledged(index, partCount);
        }
    }
    return false;
}
