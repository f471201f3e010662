#pragma once

#include <cstdint>

// How a .g1m file (main-memory items on a PC) is laid out, for G1mReader and G1mWriter:
//   header, 32 bytes, every byte stored inverted (XOR 0xFF):
//     0 "USBPower" | 8 type byte | 9 00 10 00 10 00 | 0x0E control byte | 0x0F 01 (or 00)
//     | 0x10 file size (32-bit big-endian) | 0x14 control byte | 0x15 unknown | 0x1E item count
//   then, not inverted, for each group: its name (16 bytes, NUL-padded) and item count
//   (32-bit big-endian), then each of its items: directory (8), name (8), type (1), data
//   length (32-bit big-endian), 3 reserved bytes, the data. A group's header may come again
//   further on, with more of its items.
struct G1mLayout {
    static constexpr int headerSize = 32;
    static constexpr int groupHeaderSize = 20;
    static constexpr int itemHeaderSize = 24;
    static constexpr int directoryLength = 8;
    static constexpr int nameLength = 8;
    static constexpr int groupLength = 16;
    static constexpr uint32_t maxItems = 0xFFFF;

    static constexpr unsigned char inverted = 0xFF;
    static constexpr char mark[] = "USBPower";
    static constexpr int markLength = 8;
    static constexpr int typeOffset = 8;
    static constexpr int fixedOffset = 9;
    static constexpr unsigned char fixed[] = {0x00, 0x10, 0x00, 0x10, 0x00};
    static constexpr int fixedLength = 5;
    static constexpr int firstControlOffset = 0x0E;
    static constexpr int oneOffset = 0x0F;
    static constexpr int sizeOffset = 0x10;
    static constexpr int secondControlOffset = 0x14;
    static constexpr int countOffset = 0x1E;

    // Monochrome models' files; which one the calculator's own PC software writes is not
    // settled, so all are read. The colour models' .g3m files carry 0x75.
    static constexpr unsigned char typeMonochrome = 0x31;
    static constexpr unsigned char typeMonochromeLater = 0x62;
    static constexpr unsigned char typeColour = 0x75;

    static constexpr unsigned char firstControl(uint32_t fileSize) {
        return static_cast<unsigned char>((fileSize & 0xFF) + 0x41);
    }
    static constexpr unsigned char secondControl(uint32_t fileSize) {
        return static_cast<unsigned char>((fileSize & 0xFF) + 0xB8);
    }
    // Offsets in an item's header.
    static constexpr int itemTypeOffset = directoryLength + nameLength;
    static constexpr int itemLengthOffset = itemTypeOffset + 1;
};
