#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

using Bytes = std::vector<uint8_t>;

// The packet format, written once for the virtual calculator, the tests and the fuzz
// targets, independently of the library: upper-case hex digits, the 8-bit checksum that
// skips the type byte, the escaping of extended data, and the layouts of the storage
// commands' data and of data parts.
//
// Both sides escape control bytes as 0x5C followed by the byte plus 0x20, but they
// differ on the escape byte itself: the host library sends 0x5C as 5C 7C, a calculator
// sends it as 5C 5C. Hence the two families, `...AsHost` and `...AsCalculator`.
namespace wire {

constexpr uint8_t escapeByte = 0x5C;

constexpr uint8_t typeCommand = 0x01;
constexpr uint8_t typeData = 0x02;
constexpr uint8_t typeRoleSwap = 0x03;
constexpr uint8_t typeCheck = 0x05;
constexpr uint8_t typeAck = 0x06;
constexpr uint8_t typeRefusal = 0x15;
constexpr uint8_t typeTerminate = 0x18;

// Command codes, the subtype of a command packet (and of the data parts it carries).
constexpr uint8_t commandInfo = 0x01;
constexpr uint8_t commandSendMeItem = 0x24;
constexpr uint8_t commandItem = 0x25;
constexpr uint8_t commandDeleteItem = 0x26;
constexpr uint8_t commandSendMeAll = 0x29;
constexpr uint8_t commandResetMemory = 0x2A;
constexpr uint8_t commandFreeMemory = 0x2B;
constexpr uint8_t commandFreeMemoryAnswer = 0x2C;
constexpr uint8_t commandListItems = 0x2D;
constexpr uint8_t commandItemEntry = 0x2E;
constexpr uint8_t commandSendMe = 0x44;
constexpr uint8_t commandFile = 0x45;
constexpr uint8_t commandDelete = 0x46;
constexpr uint8_t commandFree = 0x4B;
constexpr uint8_t commandFreeAnswer = 0x4C;
constexpr uint8_t commandList = 0x4D;
constexpr uint8_t commandEntry = 0x4E;
constexpr uint8_t commandOptimize = 0x51;

// Subtypes of the check, the acknowledgement and the refusal.
constexpr uint8_t checkOpen = 0x00;
constexpr uint8_t checkKeepAlive = 0x01;
constexpr uint8_t ackPlain = 0x00;
constexpr uint8_t ackOverwrite = 0x01;
constexpr uint8_t ackInfo = 0x02;
constexpr uint8_t refusedPlain = 0x00;
constexpr uint8_t refusedResend = 0x01;
constexpr uint8_t refusedExists = 0x02;
constexpr uint8_t refusedOverwrite = 0x03;
constexpr uint8_t refusedError = 0x04;
constexpr uint8_t refusedFull = 0x05;

// Header up to the flag, plus the checksum digits.
constexpr size_t shortPacketSize = 6;
// Header with the four length digits, plus the checksum digits.
constexpr size_t extendedOverhead = 10;

constexpr size_t commandHeaderSize = 24;
constexpr size_t partHeaderSize = 8;
constexpr size_t partSize = 256;
constexpr unsigned long mostParts = 0xFFFF;

// Exactly `digits` characters '0'-'9' or 'A'-'F'; nothing for anything else.
std::optional<unsigned> readHex(const Bytes& bytes, size_t offset, size_t digits);
// The lowest `digits` hex digits of `value`.
void appendHex(Bytes& bytes, uint32_t value, int digits);

// Over bytes [1, end): the type byte is never covered.
uint8_t checksum(const Bytes& bytes, size_t end);
// The packet so far, ended with its two checksum digits: for packets that are framed
// wrongly on purpose.
Bytes withChecksum(Bytes packet);

// The host library escapes 0x00-0x1E, and 0x5C as 5C 7C.
Bytes escapeAsHost(const Bytes& data);
// A calculator escapes 0x00-0x1F, and 0x5C as 5C 5C.
Bytes escapeAsCalculator(const Bytes& data);
// What a calculator accepts: 5C 5C and 5C 7C both give 0x5C, 5C 20 to 5C 3F give 0x00 to
// 0x1F; a raw 0x1F is taken as it is (the host library sends it so). Empty when the data
// does not restore; `problem` then says why.
std::optional<Bytes> restore(const Bytes& escaped, std::string& problem);

// Without extended data the two sides frame alike.
Bytes frame(uint8_t type, uint8_t subtype);
// A packet whose extended data goes on the wire exactly as given, escaped or not.
Bytes frameRaw(uint8_t type, uint8_t subtype, const Bytes& wireData);
Bytes frameAsHost(uint8_t type, uint8_t subtype, const Bytes& data);
Bytes frameAsCalculator(uint8_t type, uint8_t subtype, const Bytes& data);
Bytes acknowledgement(uint8_t subtype = ackPlain);
Bytes refusal(uint8_t subtype);

// The data of the storage commands: overwrite mode, data type, size, the lengths of six
// fields, then the fields. Field 1 is the folder, 2 the file name, 5 the device; the
// others stay empty here.
struct CommandData {
    uint32_t mode = 0;
    uint32_t dataType = 0;
    uint32_t size = 0;
    std::string folder;
    std::string name;
    std::string device;
};
Bytes commandData(const CommandData& command);
// Everything but the layout checks the caller makes; empty when the header does not
// read, or the field lengths do not add up to the data (`problem` then says why).
struct ParsedCommandData {
    CommandData fields;
    std::string unusedFields; // fields 3, 4 and 6, joined: empty when they are
    std::string group;        // field 3 alone
    std::string otherFields;  // fields 4 and 6, joined
};
std::optional<ParsedCommandData> parseCommandData(const Bytes& data, std::string& problem);

// Main-memory commands carry an item in the same layout: its type in the data type, its
// directory in field 1, its name in 2 and its group in 3; the others stay empty.
struct ItemData {
    uint32_t mode = 0;
    uint32_t type = 0;
    uint32_t size = 0;
    std::string directory;
    std::string name;
    std::string group;
};
Bytes itemData(const ItemData& item);

// A data part: the total part count and this part's number from 1, four hex digits each,
// then the bytes.
Bytes partData(uint32_t count, uint32_t number, const Bytes& bytes);

// For messages: "05 30 30 ...", cut after `limit` bytes.
std::string hexDump(const Bytes& bytes, size_t limit = 24);

} // namespace wire
