#include "WireBytes.h"

#include "Wire.h"

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

Bytes escaped(const Bytes& data) {
    return wire::escapeAsHost(data);
}

Bytes framed(unsigned char type, unsigned char subtype, const Bytes& data) {
    return wire::frameAsHost(type, subtype, data);
}

Bytes ack() {
    return wire::acknowledgement();
}

Bytes resendRequest() {
    return wire::refusal(wire::refusedResend);
}

void answerEveryPacketWith(const Bytes& answer) {
    LibusbDouble::setResponder([answer](const Bytes& sent) {
        if (sent.size() > 1) {
            LibusbDouble::queueIn({answer, 0});
        }
    });
}

} // namespace WireBytes
