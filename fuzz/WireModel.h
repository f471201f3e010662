#pragma once

// What the fuzz targets expect of the library. The bytes a packet is made of come from the
// virtual calculator's wire module, written independently of the library; the reading
// rules below model how the library's reader judges and restores what it receives, which
// is more lenient than a calculator in places (any digit decodes, and 0x5C then any byte
// restores).

#include "Wire.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace WireModel {

using Bytes = std::vector<uint8_t>;

constexpr uint8_t escapeByte = wire::escapeByte;
constexpr int headerSize = 8;           // type, subtype, flag, length
constexpr int bareSize = 6;             // type, subtype, flag, checksum
constexpr int maxReceivedLength = 1024; // escaped data accepted on receipt

// The library's lenient digit: never rejected, any byte gives its 8-bit difference.
inline uint32_t digit(uint8_t character) {
    return static_cast<uint8_t>(character <= '9' ? character - '0' : character - 'A' + 10);
}

inline uint32_t number(const uint8_t* digits, int count) {
    uint32_t value = 0;
    for (int i = 0; i < count && i < 8; ++i) {
        value |= digit(digits[count - 1 - i]) << (4 * i);
    }
    return value;
}

inline void appendHex(Bytes& out, uint32_t value, int digits) {
    wire::appendHex(out, value, digits);
}

// As the host library escapes: 0x00-0x1E, and 0x5C as 5C 7C.
inline Bytes escape(const Bytes& data) {
    return wire::escapeAsHost(data);
}

inline size_t escapedLength(const uint8_t* data, size_t size) {
    return escape(Bytes(data, data + size)).size();
}

// As a calculator escapes: 0x00-0x1F, and 0x5C as 5C 5C.
inline Bytes escapeAsCalculator(const Bytes& data) {
    return wire::escapeAsCalculator(data);
}

// The library's restore: 0x5C then 0x5C gives 0x5C, 0x5C then any other x gives x - 0x20.
// False when the input ends on an escape byte with nothing left to restore.
inline bool restore(const uint8_t* data, size_t size, Bytes* out) {
    out->clear();
    for (size_t i = 0; i < size; ++i) {
        uint8_t byte = data[i];
        if (byte == escapeByte) {
            if (++i >= size) {
                return false;
            }
            byte = data[i] == escapeByte ? escapeByte : static_cast<uint8_t>(data[i] - 0x20);
        }
        out->push_back(byte);
    }
    return true;
}

inline uint8_t checksum(const uint8_t* data, size_t size) {
    return wire::checksum(Bytes(data, data + size), size);
}

// How a received packet must be judged before its data is restored.
struct Verdict {
    bool sound = false;   // checksum right, declared data length acceptable and received
    bool hasData = false; // flag set and a length above 0
    int dataLength = 0;   // escaped length declared, when `hasData`
};

inline Verdict judge(const uint8_t* packet, size_t size) {
    Verdict verdict;
    if (size < bareSize) {
        return verdict;
    }
    if (number(packet + size - 2, 2) != checksum(packet, size - 2)) {
        return verdict;
    }
    // Only '0' decodes to 0, so any other byte announces data.
    if (packet[3] == '0') {
        verdict.sound = true;
        return verdict;
    }
    if (size < headerSize) {
        return verdict;
    }
    const uint32_t length = number(packet + 4, 4);
    if (length > maxReceivedLength || length + 10 > size) {
        return verdict;
    }
    verdict.sound = true;
    verdict.hasData = length > 0;
    verdict.dataLength = static_cast<int>(length);
    return verdict;
}

// A well-formed packet, framed as the host library frames it.
inline Bytes frame(uint8_t type, uint8_t subtype, const Bytes& data) {
    return wire::frameAsHost(type, subtype, data);
}

} // namespace WireModel
