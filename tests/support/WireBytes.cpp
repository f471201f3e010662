#include "WireBytes.h"

namespace WireBytes {

Bytes text(const std::string& characters) {
    return Bytes(characters.begin(), characters.end());
}

Bytes packet(unsigned char type, const std::string& digits) {
    return concat({type}, text(digits));
}

Bytes concat(const Bytes& first, const Bytes& second) {
    Bytes joined = first;
    joined.insert(joined.end(), second.begin(), second.end());
    return joined;
}

Bytes allByteValues() {
    Bytes bytes;
    for (int value = 0; value < 256; ++value) {
        bytes.push_back(static_cast<uint8_t>(value));
    }
    return bytes;
}

namespace {

void appendHex(Bytes& bytes, unsigned value, int digits) {
    const char* hex = "0123456789ABCDEF";
    for (int i = digits - 1; i >= 0; --i) {
        bytes.push_back(static_cast<uint8_t>(hex[(value >> (4 * i)) & 0xF]));
    }
}

} // namespace

Bytes escaped(const Bytes& data) {
    Bytes bytes;
    for (uint8_t byte : data) {
        if (byte <= 0x1E || byte == 0x5C) {
            bytes.push_back(0x5C);
            bytes.push_back(static_cast<uint8_t>(byte + 0x20));
        } else {
            bytes.push_back(byte);
        }
    }
    return bytes;
}

Bytes framed(unsigned char type, unsigned char subtype, const Bytes& data) {
    Bytes packet(1, type);
    appendHex(packet, subtype, 2);
    const Bytes escapedData = escaped(data);
    packet.push_back(escapedData.empty() ? '0' : '1');
    if (!escapedData.empty()) {
        appendHex(packet, static_cast<unsigned>(escapedData.size()), 4);
        packet.insert(packet.end(), escapedData.begin(), escapedData.end());
    }
    unsigned sum = 0;
    for (size_t i = 1; i < packet.size(); ++i) {
        sum += packet[i];
    }
    appendHex(packet, (256 - sum % 256) % 256, 2);
    return packet;
}

Bytes ack() {
    return packet(0x06, "00070");
}

Bytes resendRequest() {
    return packet(0x15, "0106F");
}

void answerEveryPacketWith(const Bytes& answer) {
    LibusbDouble::setResponder([answer](const Bytes& sent) {
        if (sent.size() > 1) {
            LibusbDouble::queueIn({answer, 0});
        }
    });
}

} // namespace WireBytes
