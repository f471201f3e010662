#pragma once

#include "Buffer.h"
#include "CasioMainMemory.h"
#include "G1mLayout.h"

#include <cstdint>

// Writes a .g1m file a piece at a time, for a program that writes it as the items arrive, to
// a pipe as well: the header first, which needs the file's size, so the writer is made from
// what the file will hold (a listing of the items tells their sizes); then for each group its
// header, and for each of the group's items the item's header, after which the caller writes
// the item's bytes itself. Each piece is checked against what the writer was made for, so that
// a file never comes out other than its header says. The type byte written is 0x62.
class G1mWriter {
public:
    static constexpr unsigned char typeByte = G1mLayout::typeMonochromeLater;

    // The size of a file of `groups` group headers and `items` items holding `dataBytes`
    // bytes of data in all; true when a .g1m file cannot say it (over 4 GiB, or more than
    // 65535 items).
    static bool fileSize(uint32_t groups, uint32_t items, uint64_t dataBytes, uint32_t* size);

    G1mWriter(uint32_t groups, uint32_t items, uint64_t dataBytes);

    // Each lays its piece out in `output`, whose size is the room on entry and the length
    // written on return. True, with problem() saying why, when it does not fit, a name is too
    // long or holds a NUL byte, or the piece is not the next one the file was made for.
    bool header(Buffer* output);
    bool group(const Buffer& name, uint32_t itemCount, Buffer* output);
    // The item's header; its `item.size` bytes of data follow, from the caller.
    bool item(const CasioMemoryItem& item, Buffer* output);
    // True, with problem(), unless every group, item and byte the file was made for came.
    bool finish();
    const char* problem() const { return why; }

private:
    bool refuse(const char* what);

    uint32_t groups;
    uint32_t items;
    uint64_t dataBytes;
    uint32_t size = 0;
    bool headerWritten = false;
    uint32_t groupsWritten = 0;
    uint32_t itemsWritten = 0;
    uint32_t itemsInGroup = 0; // still due under the last group header
    uint64_t dataWritten = 0;
    const char* why = nullptr;
};
