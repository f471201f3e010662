#pragma once

#include "LibusbDouble.h"

#include <string>

// Helpers for writing packets in tests the way they read on the wire.
namespace WireBytes {

using LibusbDouble::Bytes;

// Bytes of a string, taken literally.
Bytes text(const std::string& characters);
// A packet without extended data: the type byte, then the given digit text.
Bytes packet(unsigned char type, const std::string& digits);
Bytes concat(const Bytes& first, const Bytes& second);
Bytes allByteValues();

// The wire format as the host sends it, from the virtual calculator's wire module, which
// is written independently of the library: an oracle. Escapes 0x00-0x1E, and 0x5C as
// 5C 7C, and frames a packet with its flag, length and checksum.
Bytes escaped(const Bytes& data);
Bytes framed(unsigned char type, unsigned char subtype, const Bytes& data);

// The acknowledgement the calculator answers with: 06 '0' '0' '0' '7' '0'.
Bytes ack();
// The calculator's request to send again: 15 '0' '1' '0' '6' 'F'.
Bytes resendRequest();

// Scripts the double as a calculator that answers every OUT transfer that ends a
// packet with `answer`; the lone zero byte before a connection is not answered.
void answerEveryPacketWith(const Bytes& answer);

} // namespace WireBytes
