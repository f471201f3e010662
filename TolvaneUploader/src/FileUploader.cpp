#include "FileUploader.h"

#include "CasioDataPart.h"
#include "CasioProtocolTools.h"
#include "FileLoader.h"
#include "FileProtocol.h"
#include "Log.h"
#include "TransferProgress.h"

#include <cstdio>
#include <cstdlib>

namespace {

constexpr int packedAreaSize = 2048;
constexpr int requestTimeout = 5;
constexpr int partTimeout = 10;
constexpr int answerAreaSize = 4096;

using Tools = CasioProtocolTools;

// True unless the calculator accepted the request.
bool judgeRequestAnswer(const CasioPacketInfo& answer) {
    if (Tools::isPlainAck(answer)) {
        Log::info("File request accepted !");
        return false;
    }
    if (Tools::isPacket(answer, Tools::typeRefusal, Tools::subtypeExists)) {
        Log::error("File already exists !");
        Log::info("use -w to overwrite ?");
        return true;
    }
    if (Tools::isPacket(answer, Tools::typeRefusal, Tools::subtypeMemoryFull)) {
        Log::error("Memory full !");
        Log::info("optimize the memory ?");
        return true;
    }
    printf("Bad file send answer: type:%#x subtype:%#x extended size: %d\n", answer.type,
           answer.subtype, answer.extendedData->getSize());
    return true;
}

} // namespace

bool FileUploader::sendFileRequest(const char* foldername, int dataSize, const char* filename,
                                   const char* devicename, unsigned char mode, Socket* socket) {
    unsigned char packedData[packedAreaSize];
    Buffer packedBuffer(packedData, packedAreaSize);
    if (FileProtocol::buildSendRequestPacket(&packedBuffer, dataSize, foldername, filename,
                                             devicename, mode)) {
        return true;
    }

    // The diagnostic line of an unexpected answer shows this area's size when the answer
    // carries no data, as it always has.
    unsigned char answerData[answerAreaSize];
    Buffer answerBuffer(answerData, answerAreaSize);
    CasioPacketInfo answer = {0, 0, &answerBuffer};
    if (CasioProtocolTools::sendPacketAndGetAnswer(socket, &packedBuffer, requestTimeout,
                                                   &answer)) {
        Log::error("Failed to send the send file request !");
        return true;
    }
    return judgeRequestAnswer(answer);
}

bool FileUploader::sendFilePart(Buffer* data, Socket* socket, int partId, int partCount,
                                int partSize) {
    unsigned char packedData[packedAreaSize];
    Buffer packedBuffer(packedData, packedAreaSize);
    if (FileProtocol::buildFilePartPacket(&packedBuffer, data, partId, partCount, partSize)) {
        Log::error("Failed to create the send part packet !");
        return true;
    }
    if (CasioProtocolTools::sendPacketAndAck(socket, &packedBuffer, partTimeout)) {
        Log::error("Failed to send the part packet !");
        return true;
    }
    return false;
}

bool FileUploader::uploadFile(Socket* socket, const char* foldername, const char* filename,
                              const char* devicename, unsigned char mode) {
    Buffer fileData = FileLoader::readFile(filename);
    if (fileData.getSize() == -1) {
        Log::error("Failed to load the file !");
        return true;
    }
    const bool failed = sendFile(socket, &fileData, foldername, filename, devicename, mode);
    free(fileData.getData());
    return failed;
}

bool FileUploader::sendFile(Socket* socket, Buffer* fileData, const char* foldername,
                            const char* filename, const char* devicename, unsigned char mode) {
    // Refused before the request: the calculator could not be told the part count.
    if (fileData->getSize() > maxFileSize) {
        Log::error("File too big to upload (16776960 bytes max) !");
        return true;
    }
    if (sendFileRequest(foldername, fileData->getSize(), filename, devicename, mode, socket)) {
        Log::error("Failed the file send request !");
        return true;
    }
    if (fileData->getSize() == 0) {
        Log::error("Zero sized file not handled at this time !");
        return true;
    }

    const int partCount = CasioDataPart::partsFor(fileData->getSize());
    Log::info("Starting to upload ...");
    {
        TransferProgress progress(partCount, fileData->getSize());
        for (int i = 0; i < partCount; ++i) {
            progress.beforePart();
            Log::debug("Sending next part ...");
            if (sendFilePart(fileData, socket, i, partCount, partSize)) {
                return true;
            }
            progress.partSent(i + 1);
        }
    }
    Log::info("File uploaded !");
    return false;
}
