#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

using Bytes = std::vector<uint8_t>;

// The calculator's side of the packet framing: upper-case hex digits, the 8-bit checksum
// that skips the type byte, and the escaping of extended data.
namespace wire {

constexpr uint8_t escapeByte = 0x5C;
constexpr uint8_t highestEscapedByte = 0x1E;

constexpr uint8_t typeFileRequest = 0x01;
constexpr uint8_t typeFilePart = 0x02;
constexpr uint8_t typeConnect = 0x05;
constexpr uint8_t typeAck = 0x06;
constexpr uint8_t typeRefusal = 0x15;
constexpr uint8_t typeDisconnect = 0x18;
constexpr uint8_t subtypeFile = 0x45;

// Header up to the flag, plus the checksum digits.
constexpr size_t shortPacketSize = 6;
// Header with the four length digits, plus the checksum digits.
constexpr size_t extendedOverhead = 10;

// Exactly `digits` characters '0'-'9' or 'A'-'F'; nothing for anything else.
std::optional<unsigned> readHex(const Bytes& bytes, size_t offset, size_t digits);
void appendHex(Bytes& bytes, unsigned value, int digits);

// Over bytes [1, end): the type byte is never covered.
uint8_t checksum(const Bytes& bytes, size_t end);

Bytes escape(const Bytes& data);
// Empty when the escaping does not restore; `problem` then says why.
std::optional<Bytes> restore(const Bytes& escaped, std::string& problem);

Bytes frame(uint8_t type, uint8_t subtype);
Bytes frame(uint8_t type, uint8_t subtype, const Bytes& data);
Bytes acknowledgement();
Bytes refusal(uint8_t subtype);

// For messages: "05 30 30 ...", cut after `limit` bytes.
std::string hexDump(const Bytes& bytes, size_t limit = 24);

} // namespace wire
