#include "Wire.h"

#include <cstdio>

namespace wire {

namespace {

constexpr uint8_t escapeOffset = 0x20;
constexpr uint8_t lastHostEscaped = 0x1E;
constexpr uint8_t lastControlByte = 0x1F;
constexpr uint8_t hostEscapedEscape = escapeByte + escapeOffset; // 0x7C

std::string byteName(uint8_t byte) {
    char text[8];
    snprintf(text, sizeof text, "0x%02X", byte);
    return text;
}

Bytes escape(const Bytes& data, uint8_t lastEscaped, uint8_t escapedEscape) {
    Bytes escaped;
    escaped.reserve(data.size() * 2);
    for (uint8_t byte : data) {
        if (byte == escapeByte) {
            escaped.push_back(escapeByte);
            escaped.push_back(escapedEscape);
        } else if (byte <= lastEscaped) {
            escaped.push_back(escapeByte);
            escaped.push_back(static_cast<uint8_t>(byte + escapeOffset));
        } else {
            escaped.push_back(byte);
        }
    }
    return escaped;
}

// The byte that 0x5C followed by `second` stands for; nothing for a pair no side sends.
std::optional<uint8_t> unescaped(uint8_t second) {
    if (second == escapeByte || second == hostEscapedEscape) {
        return escapeByte;
    }
    if (second >= escapeOffset && second <= escapeOffset + lastControlByte) {
        return static_cast<uint8_t>(second - escapeOffset);
    }
    return std::nullopt;
}

void appendText(Bytes& bytes, const std::string& text) {
    bytes.insert(bytes.end(), text.begin(), text.end());
}

std::string textAt(const Bytes& bytes, size_t offset, size_t length) {
    return std::string(bytes.begin() + static_cast<long>(offset),
                       bytes.begin() + static_cast<long>(offset + length));
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

void appendHex(Bytes& bytes, uint32_t value, int digits) {
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

Bytes withChecksum(Bytes packet) {
    appendHex(packet, checksum(packet, packet.size()), 2);
    return packet;
}

Bytes escapeAsHost(const Bytes& data) {
    return escape(data, lastHostEscaped, hostEscapedEscape);
}

Bytes escapeAsCalculator(const Bytes& data) {
    return escape(data, lastControlByte, escapeByte);
}

std::optional<Bytes> restore(const Bytes& escaped, std::string& problem) {
    Bytes data;
    data.reserve(escaped.size());
    for (size_t i = 0; i < escaped.size(); ++i) {
        const uint8_t byte = escaped[i];
        if (byte <= lastHostEscaped) {
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
        const std::optional<uint8_t> restored = unescaped(escaped[++i]);
        if (!restored) {
            problem = "escape byte 0x5C followed by " + byteName(escaped[i]) + " at offset " +
                      std::to_string(i) + " of the extended data";
            return std::nullopt;
        }
        data.push_back(*restored);
    }
    return data;
}

Bytes frameRaw(uint8_t type, uint8_t subtype, const Bytes& wireData) {
    Bytes packet(1, type);
    appendHex(packet, subtype, 2);
    if (wireData.empty()) {
        packet.push_back('0');
    } else {
        packet.push_back('1');
        appendHex(packet, static_cast<uint32_t>(wireData.size()), 4);
        packet.insert(packet.end(), wireData.begin(), wireData.end());
    }
    return withChecksum(std::move(packet));
}

Bytes frame(uint8_t type, uint8_t subtype) {
    return frameRaw(type, subtype, {});
}

Bytes frameAsHost(uint8_t type, uint8_t subtype, const Bytes& data) {
    return frameRaw(type, subtype, escapeAsHost(data));
}

Bytes frameAsCalculator(uint8_t type, uint8_t subtype, const Bytes& data) {
    return frameRaw(type, subtype, escapeAsCalculator(data));
}

Bytes acknowledgement(uint8_t subtype) {
    return frame(typeAck, subtype);
}

Bytes refusal(uint8_t subtype) {
    return frame(typeRefusal, subtype);
}

namespace {

Bytes layout(uint32_t mode, uint32_t dataType, uint32_t size, const std::string (&fields)[6]) {
    Bytes data;
    appendHex(data, mode, 2);
    appendHex(data, dataType, 2);
    appendHex(data, size, 8);
    for (const std::string& field : fields) {
        appendHex(data, static_cast<uint32_t>(field.size()), 2);
    }
    for (const std::string& field : fields) {
        appendText(data, field);
    }
    return data;
}

} // namespace

Bytes commandData(const CommandData& command) {
    return layout(command.mode, command.dataType, command.size,
                  {command.folder, command.name, "", "", command.device, ""});
}

Bytes itemData(const ItemData& item) {
    return layout(item.mode, item.type, item.size,
                  {item.directory, item.name, item.group, "", "", ""});
}

std::optional<ParsedCommandData> parseCommandData(const Bytes& data, std::string& problem) {
    if (data.size() < commandHeaderSize) {
        problem = "command data of " + std::to_string(data.size()) +
                  " bytes, shorter than its 24-byte header";
        return std::nullopt;
    }
    const std::optional<unsigned> mode = readHex(data, 0, 2), dataType = readHex(data, 2, 2),
                                  size = readHex(data, 4, 8);
    std::optional<unsigned> lengths[6];
    size_t total = 0;
    bool digitsRead = mode && dataType && size;
    for (size_t field = 0; field < 6; ++field) {
        lengths[field] = readHex(data, 12 + 2 * field, 2);
        digitsRead = digitsRead && lengths[field];
        total += lengths[field].value_or(0);
    }
    if (!digitsRead) {
        problem = "malformed hex digits in the command header: " +
                  hexDump(Bytes(data.begin(), data.begin() + commandHeaderSize), 24);
        return std::nullopt;
    }
    if (commandHeaderSize + total != data.size()) {
        problem = "the command's fields take " + std::to_string(total) + " bytes, it carries " +
                  std::to_string(data.size() - commandHeaderSize) + " after its header";
        return std::nullopt;
    }
    std::string fields[6];
    size_t offset = commandHeaderSize;
    for (size_t field = 0; field < 6; ++field) {
        fields[field] = textAt(data, offset, *lengths[field]);
        offset += *lengths[field];
    }
    ParsedCommandData parsed;
    parsed.fields = {*mode, *dataType, *size, fields[0], fields[1], fields[4]};
    parsed.unusedFields = fields[2] + fields[3] + fields[5];
    parsed.group = fields[2];
    parsed.otherFields = fields[3] + fields[5];
    return parsed;
}

Bytes partData(uint32_t count, uint32_t number, const Bytes& bytes) {
    Bytes data;
    appendHex(data, count, 4);
    appendHex(data, number, 4);
    data.insert(data.end(), bytes.begin(), bytes.end());
    return data;
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
