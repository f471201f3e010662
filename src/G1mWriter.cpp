#include "G1mWriter.h"

#include <cstring>

namespace {

using Layout = G1mLayout;

void putBigEndian(unsigned char* bytes, uint32_t value, int count) {
    for (int i = count - 1; i >= 0; --i) {
        bytes[i] = static_cast<unsigned char>(value);
        value >>= 8;
    }
}

// Whether a name fits its field and reads back the same.
bool fits(const Buffer& name, int length) {
    return name.getSize() <= length &&
           (name.getSize() == 0 || memchr(name.getData(), 0, name.getSize()) == nullptr);
}

void putName(unsigned char* bytes, const Buffer& name, int length) {
    memset(bytes, 0, static_cast<size_t>(length));
    if (name.getSize() > 0) {
        memcpy(bytes, name.getData(), static_cast<size_t>(name.getSize()));
    }
}

bool same(const Buffer& one, const Buffer& other) {
    return one.getSize() == other.getSize() &&
           (one.getSize() == 0 || memcmp(one.getData(), other.getData(), one.getSize()) == 0);
}

bool sameItem(const CasioMemoryItem& one, const CasioMemoryItem& other) {
    return one.type == other.type && one.size == other.size && same(one.name, other.name) &&
           same(one.directory, other.directory) && same(one.group, other.group);
}

} // namespace

G1mWriter::G1mWriter(const CasioMemoryItem* items, int count) : items(items), count(count) {
    plan();
}

bool G1mWriter::plan() {
    if (count < 0 || static_cast<uint32_t>(count) > Layout::maxItems) {
        return refuse("more items than a .g1m file holds (65535)");
    }
    uint64_t total = Layout::headerSize;
    for (int i = 0; i < count; ++i) {
        const CasioMemoryItem& item = items[i];
        if (!fits(item.directory, Layout::directoryLength) ||
            !fits(item.name, Layout::nameLength) || !fits(item.group, Layout::groupLength)) {
            return refuse("a name longer than a .g1m file holds (directory and name 8 bytes, "
                          "group 16), or holding a NUL byte");
        }
        total += (startsGroup(i) ? Layout::groupHeaderSize : 0) + Layout::itemHeaderSize +
                 static_cast<uint64_t>(item.size);
    }
    if (total > 0xFFFFFFFFu) {
        return refuse("more bytes than a .g1m file holds (4 GiB)");
    }
    size = static_cast<uint32_t>(total);
    return false;
}

bool G1mWriter::startsGroup(int index) const {
    return index == 0 || !same(items[index].group, items[index - 1].group);
}

int G1mWriter::groupLength(int index) const {
    int end = index + 1;
    while (end < count && !startsGroup(end)) {
        ++end;
    }
    return end - index;
}

bool G1mWriter::header(Buffer* output) {
    if (why != nullptr || headerWritten || output->getSize() < Layout::headerSize) {
        return refuse("the header can't be written");
    }
    unsigned char* bytes = output->getData();
    memset(bytes, 0, Layout::headerSize);
    memcpy(bytes, Layout::mark, Layout::markLength);
    bytes[Layout::typeOffset] = typeByte;
    memcpy(bytes + Layout::fixedOffset, Layout::fixed, Layout::fixedLength);
    bytes[Layout::firstControlOffset] = Layout::firstControl(size);
    bytes[Layout::oneOffset] = 0x01;
    putBigEndian(bytes + Layout::sizeOffset, size, 4);
    bytes[Layout::secondControlOffset] = Layout::secondControl(size);
    putBigEndian(bytes + Layout::countOffset, static_cast<uint32_t>(count), 2);
    for (int i = 0; i < Layout::headerSize; ++i) {
        bytes[i] ^= Layout::inverted;
    }
    output->setSize(Layout::headerSize);
    headerWritten = true;
    return false;
}

bool G1mWriter::itemHeaders(const CasioMemoryItem& item, Buffer* output) {
    if (why != nullptr || !headerWritten || next == count || !sameItem(item, items[next])) {
        return refuse("an item came other than listed, or beyond the items listed");
    }
    if (output->getSize() < maxItemHeaders) {
        return refuse("no room for an item's headers");
    }
    unsigned char* bytes = output->getData();
    if (startsGroup(next)) {
        putName(bytes, item.group, Layout::groupLength);
        putBigEndian(bytes + Layout::groupLength, static_cast<uint32_t>(groupLength(next)), 4);
        bytes += Layout::groupHeaderSize;
    }
    putName(bytes, item.directory, Layout::directoryLength);
    putName(bytes + Layout::directoryLength, item.name, Layout::nameLength);
    bytes[Layout::itemTypeOffset] = item.type;
    putBigEndian(bytes + Layout::itemLengthOffset, item.size, 4);
    memset(bytes + Layout::itemLengthOffset + 4, 0, 3);
    output->setSize(static_cast<int>(bytes + Layout::itemHeaderSize - output->getData()));
    ++next;
    return false;
}

bool G1mWriter::finish() {
    if (why == nullptr && (!headerWritten || next != count)) {
        return refuse("fewer items came than were listed");
    }
    return why != nullptr;
}

bool G1mWriter::refuse(const char* what) {
    if (why == nullptr) {
        why = what;
    }
    return true;
}
