#pragma once

// The packet format written out a second time, independently of the library, so that the
// fuzz targets can tell what the codec ought to have done with any input.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace WireModel {

using Bytes = std::vector<uint8_t>;

constexpr uint8_t escapeByte = 0x5C;
constexpr int headerSize = 8;           // type, subtype, flag, length
constexpr int bareSize = 6;             // type, subtype, flag, checksum
constexpr int maxReceivedLength = 1024; // escaped data accepted on receipt

inline bool isEscaped(uint8_t byte) {
    return byte <= 0x1E || byte == escapeByte;
}

// The calculator's lenient digit: never rejected, any byte gives its 8-bit difference.
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
    static const char hex[] = "0123456789ABCDEF";
    for (int i = digits - 1; i >= 0; --i) {
        out.push_back(static_cast<uint8_t>(hex[(value >> (4 * i)) & 0xF]));
    }
}

inline size_t escapedLength(const uint8_t* data, size_t size) {
    size_t length = size;
    for (size_t i = 0; i < size; ++i) {
        length += isEscaped(data[i]) ? 1 : 0;
    }
    return length;
}

inline Bytes escape(const Bytes& data) {
    Bytes out;
    for (uint8_t byte : data) {
        if (isEscaped(byte)) {
            out.push_back(escapeByte);
            byte = static_cast<uint8_t>(byte + 0x20);
        }
        out.push_back(byte);
    }
    return out;
}

// How a calculator escapes: the escape byte itself travels as 0x5C 0x5C.
inline Bytes escapeAsCalculator(const Bytes& data) {
    Bytes out;
    for (uint8_t byte : data) {
        if (isEscaped(byte)) {
            out.push_back(escapeByte);
            out.push_back(byte == escapeByte ? escapeByte : static_cast<uint8_t>(byte + 0x20));
        } else {
            out.push_back(byte);
        }
    }
    return out;
}

// False when the input ends on an escape byte with nothing left to restore. Both 0x5C 0x5C
// and 0x5C 0x7C restore to 0x5C.
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
    uint8_t sum = 0;
    for (size_t i = 1; i < size; ++i) {
        sum = static_cast<uint8_t>(sum + data[i]);
    }
    return static_cast<uint8_t>(-sum);
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

// A well-formed packet, as the calculator would send it.
inline Bytes frame(uint8_t type, uint8_t subtype, const Bytes& data) {
    Bytes packet{type};
    appendHex(packet, subtype, 2);
    const Bytes escaped = escape(data);
    packet.push_back(escaped.empty() ? '0' : '1');
    if (!escaped.empty()) {
        appendHex(packet, static_cast<uint32_t>(escaped.size()), 4);
        packet.insert(packet.end(), escaped.begin(), escaped.end());
    }
    appendHex(packet, checksum(packet.data(), packet.size()), 2);
    return packet;
}

} // namespace WireModel
