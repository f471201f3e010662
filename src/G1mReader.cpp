#include "G1mReader.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace {

using Layout = G1mLayout;

uint32_t bigEndian(const unsigned char* bytes, int count) {
    uint32_t value = 0;
    for (int i = 0; i < count; ++i) {
        value = value << 8 | bytes[i];
    }
    return value;
}

// A NUL-padded name: up to its first NUL.
Buffer nameIn(unsigned char* bytes, int length) {
    const void* end = memchr(bytes, 0, static_cast<size_t>(length));
    return Buffer(bytes, end == nullptr
                             ? length
                             : static_cast<int>(static_cast<const unsigned char*>(end) - bytes));
}

bool knownType(unsigned char type) {
    return type == Layout::typeMonochrome || type == Layout::typeMonochromeLater ||
           type == Layout::typeColour;
}

} // namespace

G1mReader::G1mReader(CasioItemSink* sink) : sink(sink) {}

bool G1mReader::feed(const Buffer& bytes) {
    const unsigned char* at = bytes.getData();
    int left = bytes.getSize();
    while (!refused && left > 0) {
        take(at, left);
    }
    return refused;
}

bool G1mReader::finish() {
    if (refused || stage == Stage::end) {
        return refused;
    }
    if (stage == Stage::header) {
        return refuse("too short for a .g1m file: %llu bytes, where its header alone takes %d",
                      static_cast<unsigned long long>(position), Layout::headerSize);
    }
    return refuse("the file is cut short: its size field says %u bytes, it has %llu", size,
                  static_cast<unsigned long long>(position));
}

bool G1mReader::take(const unsigned char*& bytes, int& left) {
    switch (stage) {
    case Stage::header:
        return collect(bytes, left, Layout::headerSize) && readHeader();
    case Stage::groupHeader:
        return collect(bytes, left, Layout::groupHeaderSize) && readGroupHeader();
    case Stage::itemHeader:
        return collect(bytes, left, Layout::itemHeaderSize) && readItemHeader();
    case Stage::data:
        return passData(bytes, left);
    default:
        return refuse("trailing bytes after the %u bytes its size field gives", size);
    }
}

bool G1mReader::collect(const unsigned char*& bytes, int& left, int length) {
    const int taken = left < length - held ? left : length - held;
    memcpy(piece + held, bytes, static_cast<size_t>(taken));
    held += taken;
    bytes += taken;
    left -= taken;
    position += static_cast<uint64_t>(taken);
    if (held < length) {
        return false;
    }
    held = 0;
    return true;
}

bool G1mReader::readHeader() {
    unsigned char header[Layout::headerSize];
    for (int i = 0; i < Layout::headerSize; ++i) {
        header[i] = piece[i] ^ Layout::inverted;
    }
    if (memcmp(header, Layout::mark, Layout::markLength) != 0) {
        return memcmp(piece, Layout::mark, Layout::markLength) == 0
                   ? refuse("its header is not stored inverted, as a .g1m file's is")
                   : refuse("not a .g1m file: it does not begin with the inverted mark USBPower");
    }
    type = header[Layout::typeOffset];
    if (!knownType(type)) {
        return refuse("an unknown kind of file: its type byte is 0x%02X, not 0x31, 0x62 or 0x75",
                      type);
    }
    if (memcmp(header + Layout::fixedOffset, Layout::fixed, Layout::fixedLength) != 0 ||
        header[Layout::oneOffset] > 1) {
        return refuse("its inverted header is damaged (bytes 0x09 to 0x0F)");
    }
    size = bigEndian(header + Layout::sizeOffset, 4);
    if (header[Layout::firstControlOffset] != Layout::firstControl(size) ||
        header[Layout::secondControlOffset] != Layout::secondControl(size)) {
        return refuse("a control byte of its header (at 0x0E or 0x14) does not match its size "
                      "field of %u bytes",
                      size);
    }
    if (size < static_cast<uint32_t>(Layout::headerSize)) {
        return refuse("its size field says %u bytes, fewer than its header takes", size);
    }
    count = bigEndian(header + Layout::countOffset, 2);
    return nextPiece();
}

bool G1mReader::readGroupHeader() {
    memcpy(group, piece, Layout::groupLength);
    groupSize = nameIn(group, Layout::groupLength).getSize();
    itemsInGroup = bigEndian(piece + Layout::groupLength, 4);
    ++groupsRead;
    if (itemsInGroup > count - itemsRead) {
        return refuse("a group counts %u items where %u of the %u its header counts are left",
                      itemsInGroup, count - itemsRead, count);
    }
    return nextPiece();
}

bool G1mReader::readItemHeader() {
    dataLeft = bigEndian(piece + Layout::itemLengthOffset, 4);
    ++itemsRead;
    --itemsInGroup;
    if (position + dataLeft > size) {
        return refuse("item %u runs past the end of the file: %u bytes of data from byte %llu, "
                      "where its size field says %u",
                      itemsRead, dataLeft, static_cast<unsigned long long>(position), size);
    }
    const CasioMemoryItem item = {
        piece[Layout::itemTypeOffset], dataLeft, nameIn(piece, Layout::directoryLength),
        nameIn(piece + Layout::directoryLength, Layout::nameLength), Buffer(group, groupSize)};
    if (sink->itemAnnounced(item)) {
        return refuse("stopped: item %u could not be taken", itemsRead);
    }
    stage = Stage::data;
    return dataLeft == 0 && endItem();
}

bool G1mReader::passData(const unsigned char*& bytes, int& left) {
    const int taken = static_cast<uint32_t>(left) < dataLeft ? left : static_cast<int>(dataLeft);
    // The sink only reads what it is shown.
    if (sink->itemBytes(Buffer(const_cast<unsigned char*>(bytes), taken))) {
        return refuse("stopped: item %u could not be taken", itemsRead);
    }
    bytes += taken;
    left -= taken;
    position += static_cast<uint64_t>(taken);
    dataLeft -= static_cast<uint32_t>(taken);
    return dataLeft == 0 && endItem();
}

bool G1mReader::endItem() {
    if (sink->itemComplete()) {
        return refuse("stopped: item %u could not be taken", itemsRead);
    }
    return nextPiece();
}

bool G1mReader::nextPiece() {
    if (itemsRead == count) {
        stage = Stage::end;
        if (position != size) {
            return refuse("its header counts %u items, which end at byte %llu, but its size "
                          "field says %u bytes",
                          count, static_cast<unsigned long long>(position), size);
        }
        return false;
    }
    if (position == size) {
        return refuse("its header counts %u items, but it ends after %u", count, itemsRead);
    }
    stage = itemsInGroup == 0 ? Stage::groupHeader : Stage::itemHeader;
    const int length =
        stage == Stage::groupHeader ? Layout::groupHeaderSize : Layout::itemHeaderSize;
    if (position + static_cast<uint64_t>(length) > size) {
        return refuse("its size field says %u bytes, which ends inside the header of %s at "
                      "byte %llu",
                      size, stage == Stage::groupHeader ? "a group" : "an item",
                      static_cast<unsigned long long>(position));
    }
    return false;
}

bool G1mReader::refuse(const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    vsnprintf(why, sizeof why, format, arguments);
    va_end(arguments);
    refused = true;
    return true;
}
