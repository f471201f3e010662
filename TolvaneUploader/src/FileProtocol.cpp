#include "FileProtocol.h"

#include "CasioFileSender.h"
#include "CasioPacker.h"
#include "CasioProtocolTools.h"
#include "CasioStorage.h"
#include "Log.h"

#include <cstring>

namespace {

constexpr unsigned char fileSubtype = CasioStorage::commandFile;

bool namesFitTheRequest(size_t folderLength, size_t fileLength, size_t deviceLength) {
    const size_t maxName = FileProtocol::maxNameLength;
    if (folderLength > maxName || fileLength > maxName || deviceLength > maxName) {
        Log::error("Name too long for the file request (255 bytes max) !");
        return false;
    }
    return true;
}

// Ranges first, so that nothing computed from them can overflow: the part's data fits the
// part area and the output, its number fits four hex digits, and it starts within the image.
bool partFits(const Buffer* output, const Buffer* data, int partId, int partSize) {
    const int partArea = FileProtocol::partAreaSize - FileProtocol::partHeaderSize;
    if (partSize < 0 || partSize > partArea ||
        output->getSize() < partSize + FileProtocol::partHeaderSize) {
        return false;
    }
    if (partId < 0 || partId >= FileProtocol::maxPartCount) {
        return false;
    }
    return static_cast<long long>(partId) * partSize <= data->getSize();
}

} // namespace

bool FileProtocol::buildSendRequestPacket(Buffer* output, int dataSize, const char* foldername,
                                          const char* filename, const char* devicename,
                                          unsigned char mode) {
    const size_t folderLength = strlen(foldername);
    const size_t fileLength = strlen(filename);
    const size_t deviceLength = strlen(devicename);
    if (!namesFitTheRequest(folderLength, fileLength, deviceLength)) {
        return true;
    }

    CasioStorageCommand request = CasioCommandHeader::naming(foldername, filename, devicename);
    request.overwriteMode = mode;
    request.dataType = CasioFileSender::fileDataType;
    request.size = static_cast<uint32_t>(dataSize);
    unsigned char data[requestAreaSize];
    Buffer buffer(data, requestAreaSize);
    // Names within 255 bytes always fit the request area.
    CasioCommandHeader::build(request, &buffer);

    CasioPacketInfo info = {CasioProtocolTools::typeFileRequest, fileSubtype, &buffer};
    if (CasioPacker::pack(info, output)) {
        Log::error("Failed to pack send file request !");
        return true;
    }
    return false;
}

bool FileProtocol::buildFilePartPacket(Buffer* output, Buffer* data, int partId, int partCount,
                                       int partSize) {
    if (!partFits(output, data, partId, partSize)) {
        Log::error("buildFilePartPacket: impossible: Buffer too small !");
        return true;
    }
    const int dataBeginning = partId * partSize;

    int dataSize = data->getSize() - dataBeginning;
    if (dataSize > partSize) {
        dataSize = partSize;
    }
    const CasioPart part = {partCount, partId + 1,
                            Buffer(data->getData() + dataBeginning, dataSize)};
    unsigned char temporaryData[partAreaSize];
    Buffer temporaryBuffer(temporaryData, partAreaSize);
    // A part within the area's size always fits it.
    CasioDataPart::build(part, &temporaryBuffer);
    CasioPacketInfo info = {CasioProtocolTools::typeFilePart, fileSubtype, &temporaryBuffer};
    if (CasioPacker::pack(info, output)) {
        Log::error("Failed to pack file part !");
        return true;
    }
    return false;
}
