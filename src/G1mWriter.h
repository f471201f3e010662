#pragma once

#include "Buffer.h"
#include "CasioMainMemory.h"
#include "G1mLayout.h"

#include <cstdint>

// Writes a .g1m file a piece at a time, for a program that writes it as the items arrive, to
// a pipe as well. The header comes first and needs the file's size, so the writer is made
// from the items the file will hold, in order (from the calculator's listing, say): it works
// out the size and the groups (a group header wherever the group changes). Then, for each
// item as it comes, it lays out the headers that go before the item's data (its group's, when
// a group begins, and its own) after checking that the item is the one planned there; the
// caller writes the item's bytes itself. So a file never comes out other than its header says.
// The type byte written is 0x62.
class G1mWriter {
public:
    static constexpr unsigned char typeByte = G1mLayout::typeMonochromeLater;
    // What the headers before one item's data take at most.
    static constexpr int maxItemHeaders = G1mLayout::groupHeaderSize + G1mLayout::itemHeaderSize;

    // `items` (with their sizes) stay the caller's, and must outlive the writer.
    G1mWriter(const CasioMemoryItem* items, int count);

    // Null when the items make a .g1m file; otherwise why not (too many or too big, a name
    // too long or holding a NUL byte), and nothing is written.
    const char* problem() const { return why; }
    uint32_t fileSize() const { return size; }

    // Each lays its piece out in `output`, whose size is the room on entry and the length
    // written on return; true, with problem() saying why, when it cannot.
    bool header(Buffer* output);
    // The headers before the data of the next item, which must be `item`.
    bool itemHeaders(const CasioMemoryItem& item, Buffer* output);
    // True, with problem(), unless every item planned came.
    bool finish();

private:
    bool plan();
    bool startsGroup(int index) const;
    int groupLength(int index) const;
    bool refuse(const char* what);

    const CasioMemoryItem* items;
    int count;
    uint32_t size = 0;
    bool headerWritten = false;
    int next = 0;
    const char* why = nullptr;
};
