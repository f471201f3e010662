#pragma once

#include "Wire.h"

#include <optional>
#include <string>
#include <vector>

// .g1m files (main-memory items on a PC), read and written whole, independently of the
// library: for the virtual calculator to fill its main memory from, and for the tests to
// build files and expected bytes with. The 32-byte header is stored inverted ("USBPower", a
// type byte, 00 10 00 10 00, control bytes at 0x0E and 0x14 from the size's low byte, the
// size at 0x10, the item count at 0x1E); then group headers (name in 16 bytes, item count)
// each followed by its items (directory 8, name 8, type, data length, 3 reserved, data).
namespace g1mwire {

struct Item {
    uint8_t type = 0;
    std::string directory;
    std::string name;
    std::string group;
    Bytes data;

    bool operator==(const Item& other) const {
        return type == other.type && directory == other.directory && name == other.name &&
               group == other.group && data == other.data;
    }
};

// A file of these items, a group header wherever the group changes. The header's numbers
// may be given, for files that lie about themselves.
struct Header {
    uint8_t type = 0x62;
    std::optional<uint32_t> size;
    std::optional<uint16_t> count;
};
Bytes file(const std::vector<Item>& items, const Header& header = {});

// Every item of a file, repeated groups taken together; nothing, with `problem` saying why,
// when the file is not one.
std::optional<std::vector<Item>> read(const Bytes& file, std::string& problem);

} // namespace g1mwire
