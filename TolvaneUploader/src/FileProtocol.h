#pragma once

#include "Buffer.h"
#include "CasioCommandHeader.h"
#include "CasioDataPart.h"

// Builds the two packets of a file transfer: the file request that offers the file,
// and the file parts that carry it. Both return true on failure.
class FileProtocol {
public:
    static constexpr unsigned char modeRefuseExisting = CasioCommandHeader::modeAsk;
    static constexpr unsigned char modeOverwrite = CasioCommandHeader::modeOverwrite;

    // The request's name lengths have two hex digits. Three names of that length
    // always fit the request area after its header.
    static constexpr int requestAreaSize = 1024;
    static constexpr int requestHeaderSize = CasioCommandHeader::headerSize;
    static constexpr int maxNameLength = CasioCommandHeader::maxFieldLength;
    static_assert(requestHeaderSize + 3 * maxNameLength <= requestAreaSize);

    static constexpr int partAreaSize = 2048;
    static constexpr int partHeaderSize = CasioDataPart::headerSize;
    static constexpr int maxPartCount = CasioDataPart::maxCount;

    static bool buildSendRequestPacket(Buffer* output, int dataSize, const char* foldername,
                                       const char* filename, const char* devicename,
                                       unsigned char mode);
    // Encodes part `partId` (counted from 0) of the file image `data`.
    static bool buildFilePartPacket(Buffer* output, Buffer* data, int partId, int partCount,
                                    int partSize);
};
