#include "FileProtocol.h"

#include "AsciiConverter.h"
#include "CasioPacker.h"
#include "CasioProtocolTools.h"
#include "Log.h"

#include <cstring>

namespace {

constexpr unsigned char fileSubtype = 0x45;
constexpr int fixedRequestValue = 5;

// Writes `number` as `digits` hex digits at `position`, returning the next position.
unsigned char* putNumber(unsigned char* position, int number, int digits) {
    AsciiConverter::numberToAscii(number, position, digits);
    return position + digits;
}

unsigned char* putName(unsigned char* position, const char* name, size_t length) {
    memcpy(position, name, length);
    return position + length;
}

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

    unsigned char data[requestAreaSize];
    unsigned char* position = data;
    position = putNumber(position, mode, 2);
    position = putNumber(position, fixedRequestValue, 2);
    position = putNumber(position, dataSize, 8);
    position = putNumber(position, static_cast<int>(folderLength), 2);
    position = putNumber(position, static_cast<int>(fileLength), 2);
    position = putNumber(position, 0, 2);
    position = putNumber(position, 0, 2);
    position = putNumber(position, static_cast<int>(deviceLength), 2);
    position = putNumber(position, 0, 2);
    position = putName(position, foldername, folderLength);
    position = putName(position, filename, fileLength);
    position = putName(position, devicename, deviceLength);

    Buffer buffer(data, static_cast<int>(position - data));
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

    unsigned char temporaryData[partAreaSize];
    AsciiConverter::numberToAscii(partCount, temporaryData, 4);
    AsciiConverter::numberToAscii(partId + 1, temporaryData + 4, 4);
    int dataSize = data->getSize() - dataBeginning;
    if (dataSize > partSize) {
        dataSize = partSize;
    }
    memcpy(temporaryData + partHeaderSize, data->getData() + dataBeginning, dataSize);

    Buffer temporaryBuffer(temporaryData, dataSize + partHeaderSize);
    CasioPacketInfo info = {CasioProtocolTools::typeFilePart, fileSubtype, &temporaryBuffer};
    if (CasioPacker::pack(info, output)) {
        Log::error("Failed to pack file part !");
        return true;
    }
    return false;
}
