#include "Wire.h"

#include <cstdio>

namespace wire {

namespace {

bool needsEscape(uint8_t byte) {
    return byte <= highestEscapedByte || byte == escapeByte;
}

std::string byteName(uint8_t byte) {
    char text[8];
    snprintf(text, sizeof text, "0x%02X", byte);
    return text;
}

} // namespace

std::optional<unsigned> readHex(const Bytes& bytes, size_t offset, size_t digits) {
    if (offset + digits > bytes.size()) {
        return std::nullopt;
    }
    unsigned value = 0;
    for (size_t i = offset; i < offset + digits; ++i) {
        const uint8_t digit = bytes[i];
        if (digit >= '0' && digit <= '9') {
            value = value * 16 + (digit - '0');
        } else if (digit >= 'A' && digit <= 'F') {
            value = value * 16 + (digit - 'A' + 10);
        } else {
            return std::nullopt;
        }
    }
    return value;
}

void appendHex(Bytes& bytes, unsigned value, int digits) {
    static const char hex[] = "0123456789ABCDEF";
    for (int i = digits - 1; i >= 0; --i) {
        bytes.push_back(static_cast<uint8_t>(hex[(value >> (4 * i)) & 0xF]));
    }
}

uint8_t checksum(const Bytes& bytes, size_t end) {
    uint8_t sum = 0;
    for (size_t i = 1; i < end && i < bytes.size(); ++i) {
        sum = static_cast<uint8_t>(sum + bytes[i]);
    }
    return static_cast<uint8_t>(0 - sum);
}

Bytes escape(const Bytes& data) {
    Bytes escaped;
    escaped.reserve(data.size() * 2);
    for (uint8_t byte : data) {
        if (needsEscape(byte)) {
            escaped.push_back(escapeByte);
            escaped.push_back(static_cast<uint8_t>(byte + 0x20));
        } else {
            escaped.push_back(byte);
        }
    }
    return escaped;
}

std::optional<Bytes> restore(const Bytes& escaped, std::string& problem) {
    Bytes data;
    data.reserve(escaped.size());
    for (size_t i = 0; i < escaped.size(); ++i) {
        const uint8_t byte = escaped[i];
        if (byte <= highestEscapedByte) {
            problem = "byte " + byteName(byte) + " travelled unescaped at offset " +
                      std::to_string(i) + " of the extended data";
            return std::nullopt;
        }
        if (byte != escapeByte) {
            data.push_back(byte);
            continue;
        }
        if (i + 1 == escaped.size()) {
            problem = "the extended data ends with a lone escape byte 0x5C";
            return std::nullopt;
        }
        const uint8_t restored = static_cast<uint8_t>(escaped[++i] - 0x20);
        if (!needsEscape(restored)) {
            problem = "escape byte 0x5C followed by " + byteName(escaped[i]) + " at offset " +
                      std::to_string(i) + " of the extended data";
            return std::nullopt;
        }
        data.push_back(restored);
    }
    return data;
}

Bytes frame(uint8_t type, uint8_t subtype) {
    return frame(type, subtype, {});
}

Bytes frame(uint8_t type, uint8_t subtype, const Bytes& data) {
    Bytes packet(1, type);
    appendHex(packet, subtype, 2);
    const Bytes escaped = escape(data);
    if (escaped.empty()) {
        packet.push_back('0');
    } else {
        packet.push_back('1');
        appendHex(packet, static_cast<unsigned>(escaped.size()), 4);
        packet.insert(packet.end(), escaped.begin(), escaped.end());
    }
    appendHex(packet, checksum(packet, packet.size()), 2);
    return packet;
}

Bytes acknowledgement() {
    return frame(typeAck, 0x00);
}

Bytes refusal(uint8_t subtype) {
    return frame(typeRefusal, subtype);
}

std::string hexDump(const Bytes& bytes, size_t limit) {
    std::string text;
    for (size_t i = 0; i < bytes.size() && i < limit; ++i) {
        char pair[4];
        snprintf(pair, sizeof pair, "%02X", bytes[i]);
        text += (i == 0 ? "" : " ") + std::string(pair);
    }
    if (bytes.size() > limit) {
        text += " ... (" + std::to_string(bytes.size()) + " bytes)";
    }
    return text;
}

} // namespace wire
