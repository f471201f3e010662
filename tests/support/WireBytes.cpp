#include "WireBytes.h"

namespace WireBytes {

Bytes text(const std::string& characters) {
    return Bytes(characters.begin(), characters.end());
}

Bytes packet(unsigned char type, const std::string& digits) {
    Bytes bytes{type};
    bytes.insert(bytes.end(), digits.begin(), digits.end());
    return bytes;
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
