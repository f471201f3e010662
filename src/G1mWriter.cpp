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

// A name NUL-padded to `length`; false when it does not fit or would not read back.
bool putName(unsigned char* bytes, const Buffer& name, int length) {
    if (name.getSize() > length ||
        (name.getSize() > 0 && memchr(name.getData(), 0, name.getSize()) != nullptr)) {
        return false;
    }
    memset(bytes, 0, static_cast<size_t>(length));
    if (name.getSize() > 0) {
        memcpy(bytes, name.getData(), static_cast<size_t>(name.getSize()));
    }
    return true;
}

} // namespace

bool G1mWriter::fileSize(uint32_t groups, uint32_t items, uint64_t dataBytes, uint32_t* size) {
    const uint64_t total = Layout::headerSize +
                           static_cast<uint64_t>(groups) * Layout::groupHeaderSize +
                           static_cast<uint64_t>(items) * Layout::itemHeaderSize + dataBytes;
    if (items > Layout::maxItems || total > 0xFFFFFFFFu) {
        return true;
    }
    *size = static_cast<uint32_t>(total);
    return false;
}

G1mWriter::G1mWriter(uint32_t groups, uint32_t items, uint64_t dataBytes)
    : groups(groups), items(items), dataBytes(dataBytes) {}

bool G1mWriter::header(Buffer* output) {
    if (headerWritten || fileSize(groups, items, dataBytes, &size)) {
        return refuse(headerWritten ? "the header is written twice"
                                    : "too many items or bytes for a .g1m file");
    }
    if (output->getSize() < Layout::headerSize) {
        return refuse("no room for the header");
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
    putBigEndian(bytes + Layout::countOffset, items, 2);
    for (int i = 0; i < Layout::headerSize; ++i) {
        bytes[i] ^= Layout::inverted;
    }
    output->setSize(Layout::headerSize);
    headerWritten = true;
    return false;
}

bool G1mWriter::group(const Buffer& name, uint32_t itemCount, Buffer* output) {
    if (!headerWritten || itemsInGroup > 0 || groupsWritten == groups ||
        itemCount > items - itemsWritten) {
        return refuse("a group that the file was not made for");
    }
    if (output->getSize() < Layout::groupHeaderSize) {
        return refuse("no room for a group's header");
    }
    if (!putName(output->getData(), name, Layout::groupLength)) {
        return refuse("a group's name is longer than 16 bytes or holds a NUL byte");
    }
    putBigEndian(output->getData() + Layout::groupLength, itemCount, 4);
    output->setSize(Layout::groupHeaderSize);
    ++groupsWritten;
    itemsInGroup = itemCount;
    return false;
}

bool G1mWriter::item(const CasioMemoryItem& item, Buffer* output) {
    if (itemsInGroup == 0 || item.size > dataBytes - dataWritten) {
        return refuse("an item that the file was not made for");
    }
    if (output->getSize() < Layout::itemHeaderSize) {
        return refuse("no room for an item's header");
    }
    unsigned char* bytes = output->getData();
    if (!putName(bytes, item.directory, Layout::directoryLength) ||
        !putName(bytes + Layout::directoryLength, item.name, Layout::nameLength)) {
        return refuse("an item's directory or name is longer than 8 bytes or holds a NUL byte");
    }
    bytes[Layout::itemTypeOffset] = item.type;
    putBigEndian(bytes + Layout::itemLengthOffset, item.size, 4);
    memset(bytes + Layout::itemLengthOffset + 4, 0, 3);
    output->setSize(Layout::itemHeaderSize);
    --itemsInGroup;
    ++itemsWritten;
    dataWritten += item.size;
    return false;
}

bool G1mWriter::finish() {
    if (why != nullptr) {
        return true;
    }
    if (!headerWritten || groupsWritten != groups || itemsWritten != items ||
        dataWritten != dataBytes) {
        return refuse("the file holds less than its header says");
    }
    return false;
}

bool G1mWriter::refuse(const char* what) {
    if (why == nullptr) {
        why = what;
    }
    return true;
}
