#pragma once

#include "Buffer.h"

// A packet as the program sees it. `extendedData` always points to a Buffer: the data to
// send (size 0 for none), or the area that receives the restored data.
struct CasioPacketInfo {
    unsigned char type;
    unsigned char subtype;
    Buffer* extendedData;
};

// The packet codec:
//   type (raw byte) | subtype (2 hex digits) | flag ('0' or '1')
//   [ escaped length L (4 hex digits) | L escaped bytes ] | checksum (2 hex digits)
class CasioPacker {
public:
    static constexpr int packetSizeWithoutData = 6;
    static constexpr int extendedDataOverhead = 10;
    static constexpr int maxSentExtendedDataSize = 2048;
    static constexpr int maxReceivedExtendedDataSize = 1024;
    // Room for the largest packet a calculator sends that can be intact: what every receive
    // offers. A whole number of 64-byte USB packets, so that no transfer can overflow it.
    static constexpr int maxReceivedPacketSize = 1088;
    static_assert(maxReceivedPacketSize >= maxReceivedExtendedDataSize + extendedDataOverhead &&
                  maxReceivedPacketSize % 64 == 0);

    // On success the size of `output` is the packet's length; true when the packet
    // does not fit `output` (its size on entry) or its data escapes beyond 2048 bytes.
    static bool pack(CasioPacketInfo packetInfo, Buffer* output);
    // True when `input` is corrupted or the data does not fit `packetInfo->extendedData`.
    static bool unpack(CasioPacketInfo* packetInfo, Buffer* input);
    // How many bytes the packet that starts `received` needs, as far as its header tells so
    // far: 6 without extended data, 8 while its length digits are missing, else L + 10.
    static int announcedSize(Buffer* received);

private:
    static int insertExtendedData(Buffer* data, Buffer* workingBuffer);
    static bool getExtendedData(Buffer* data, Buffer* input);
    static int getExtendedDataSize(Buffer* input);
    static bool checkCorruption(Buffer* input);
};

// Room for one packet from the calculator once restored: `info.extendedData` views `data`.
// Each exchange keeps its own, so that links can be used at the same time.
struct CasioReceivedPacket {
    CasioReceivedPacket() : view(data, sizeof data), info{0, 0, &view} {}
    CasioReceivedPacket(const CasioReceivedPacket&) = delete;
    CasioReceivedPacket& operator=(const CasioReceivedPacket&) = delete;

    unsigned char data[CasioPacker::maxReceivedExtendedDataSize];
    Buffer view;
    CasioPacketInfo info;
};
