#include "CasioPacker.h"

#include "AsciiConverter.h"
#include "CasioChecksum.h"
#include "CasioEscaper.h"
#include "Log.h"

#include <cstdio>
#include <cstring>

namespace {

constexpr int subtypeOffset = 1;
constexpr int flagOffset = 3;
constexpr int sizeOffset = 4;
constexpr int dataOffset = 8;
constexpr int checksumDigits = 2;

constexpr const char* packetTooBigMessage = "Packet too big for the output buffer !";

int decode(Buffer* input, int offset, int digits) {
    int number = 0;
    AsciiConverter::asciiToNumber(input->getData() + offset, &number, digits);
    return number;
}

void printSizes(int dataSize, int workingBufferSize) {
    Log::direct("data size %d, working buffer size %d\n", dataSize, workingBufferSize);
}

} // namespace

bool CasioPacker::pack(CasioPacketInfo packetInfo, Buffer* output) {
    if (output->getSize() < packetSizeWithoutData) {
        Log::error(packetTooBigMessage);
        printSizes(packetInfo.extendedData->getSize(), output->getSize());
        return true;
    }
    unsigned char* packet = output->getData();
    packet[0] = packetInfo.type;
    AsciiConverter::numberToAscii(packetInfo.subtype, packet + subtypeOffset, 2);

    const int extraSize = insertExtendedData(packetInfo.extendedData, output);
    if (extraSize == -1) {
        return true;
    }

    Buffer checksumBuffer(packet, extraSize + sizeOffset);
    const unsigned char checksum = CasioChecksum::compute(&checksumBuffer);
    AsciiConverter::numberToAscii(checksum, packet + extraSize + sizeOffset, checksumDigits);
    output->setSize(extraSize + packetSizeWithoutData);
    return false;
}

int CasioPacker::insertExtendedData(Buffer* data, Buffer* workingBuffer) {
    unsigned char escapedDataData[maxSentExtendedDataSize];
    Buffer escapedData(escapedDataData, maxSentExtendedDataSize);
    if (CasioEscaper::escapeBuffer(data, &escapedData)) {
        Log::error("insertExtendedData: impossible: too big for escape !");
        printSizes(data->getSize(), workingBuffer->getSize());
        return -1;
    }

    const int escapedSize = escapedData.getSize();
    if (escapedSize > 0 && escapedSize + extendedDataOverhead > workingBuffer->getSize()) {
        Log::error(packetTooBigMessage);
        printSizes(data->getSize(), workingBuffer->getSize());
        return -1;
    }

    unsigned char* packet = workingBuffer->getData();
    AsciiConverter::numberToAscii(escapedSize > 0 ? 1 : 0, packet + flagOffset, 1);
    if (escapedSize == 0) {
        return 0;
    }
    AsciiConverter::numberToAscii(escapedSize, packet + sizeOffset, 4);
    memcpy(packet + dataOffset, escapedDataData, escapedSize);
    return escapedSize + sizeOffset;
}

bool CasioPacker::unpack(CasioPacketInfo* packetInfo, Buffer* input) {
    if (checkCorruption(input)) {
        Log::warning("Corrupted packet !");
        return true;
    }
    packetInfo->type = input->getData()[0];
    const int subtypeInt = decode(input, subtypeOffset, 2);
    packetInfo->subtype = static_cast<unsigned char>(subtypeInt);

    if (getExtendedData(packetInfo->extendedData, input)) {
        Log::error("Can't unpack, buffer too small !");
        return true;
    }
    return false;
}

int CasioPacker::announcedSize(Buffer* received) {
    if (received->getSize() <= flagOffset || decode(received, flagOffset, 1) == 0) {
        return packetSizeWithoutData;
    }
    if (received->getSize() < dataOffset) {
        return dataOffset;
    }
    return decode(received, sizeOffset, 4) + extendedDataOverhead;
}

bool CasioPacker::getExtendedData(Buffer* data, Buffer* input) {
    const int extendedDataSize = getExtendedDataSize(input);
    if (extendedDataSize == 0) {
        return false;
    }
    unsigned char escapedDataData[maxSentExtendedDataSize];
    memcpy(escapedDataData, input->getData() + dataOffset, extendedDataSize);
    Buffer escapedData(escapedDataData, extendedDataSize);
    return CasioEscaper::restoreBuffer(&escapedData, data);
}

int CasioPacker::getExtendedDataSize(Buffer* input) {
    if (decode(input, flagOffset, 1) == 0) {
        return 0;
    }
    // A size field that was never received is no size at all.
    if (input->getSize() < dataOffset) {
        return -1;
    }
    return decode(input, sizeOffset, 4);
}

bool CasioPacker::checkCorruption(Buffer* input) {
    const int packetSize = input->getSize();
    // Too short to hold a header and a checksum: nothing in it can be trusted or read.
    if (packetSize < packetSizeWithoutData) {
        Log::warning("Wrong checksum !");
        Log::direct("packetsize %d\n", packetSize);
        return true;
    }

    Buffer checksumBuffer(input->getData(), packetSize - checksumDigits);
    const int computedChecksum = CasioChecksum::compute(&checksumBuffer);
    const int receivedChecksum = decode(input, packetSize - checksumDigits, checksumDigits);
    if (receivedChecksum != computedChecksum) {
        Log::warning("Wrong checksum !");
        Log::direct("packetsize %d\n", packetSize);
        Log::direct("%d vs %d\n", receivedChecksum, computedChecksum);
        Log::direct("Type%d Subtype%d\n", input->getData()[0], decode(input, subtypeOffset, 2));
        return true;
    }

    const int extendedDataSize = getExtendedDataSize(input);
    const bool announced = decode(input, flagOffset, 1) != 0;
    // The declared data must also lie within the bytes actually received.
    const bool beyondReceived = announced && extendedDataSize + extendedDataOverhead > packetSize;
    if (extendedDataSize < 0 || extendedDataSize > maxReceivedExtendedDataSize || beyondReceived) {
        Log::warning("Bad extended data size !");
        Log::direct("%d\n", extendedDataSize);
        return true;
    }
    return false;
}
