#pragma once

#include "Buffer.h"
#include "CasioMainMemory.h"
#include "G1mLayout.h"

#include <cstdint>

// Reads a .g1m file as its bytes come, cut anywhere, and hands each item on as soon as it can:
// the item announced (its names view the reader's copy of its header, until the next item),
// its data as it comes in (views of the bytes fed), then its end. It holds no more than the
// headers, so that a file of any length goes through in a few hundred bytes of memory; a
// caller that must send items whole keeps one item at a time.
//
// Everything is checked as it comes: the inverted header (its mark, type byte, fixed bytes,
// control bytes), the size field against the bytes, the item count against the groups and
// items, items that run past the end, trailing bytes. A group's header may come again further
// on: its items are that group's as well. The first problem refuses the file; problem() says
// it in words a user understands, and the sink sees nothing more.
class G1mReader {
public:
    explicit G1mReader(CasioItemSink* sink);

    // Takes the next bytes of the file. True once the file is refused (or the sink could not
    // take an item); later bytes are ignored.
    bool feed(const Buffer& bytes);
    // The file has ended: true unless it ended where its header says, after its last item.
    bool finish();
    // Why the file was refused; null while it is not.
    const char* problem() const { return refused ? why : nullptr; }

    // What the header says, once its 32 bytes have been read.
    bool headerRead() const { return stage != Stage::header; }
    unsigned char typeByte() const { return type; }
    uint32_t fileSize() const { return size; }
    uint32_t itemCount() const { return count; }
    // Group headers read so far, repeated ones included.
    uint32_t groupHeaders() const { return groupsRead; }

private:
    enum class Stage { header, groupHeader, itemHeader, data, end };

    // Collects a header of `length` bytes; true once it is whole.
    bool collect(const unsigned char*& bytes, int& left, int length);
    bool take(const unsigned char*& bytes, int& left);
    bool readHeader();
    bool readGroupHeader();
    bool readItemHeader();
    bool passData(const unsigned char*& bytes, int& left);
    bool endItem();
    // Where the file must end once every item is read, or else the item count must go on.
    bool nextPiece();
    bool refuse(const char* format, ...) __attribute__((format(printf, 2, 3)));

    CasioItemSink* sink;
    Stage stage = Stage::header;
    unsigned char piece[G1mLayout::headerSize];
    int held = 0;          // bytes of the current header collected in `piece`
    uint64_t position = 0; // bytes of the file read so far
    unsigned char type = 0;
    uint32_t size = 0;
    uint32_t count = 0;
    uint32_t itemsRead = 0; // announced so far
    uint32_t groupsRead = 0;
    uint32_t itemsInGroup = 0; // still to come under the last group header
    uint32_t dataLeft = 0;     // of the current item
    unsigned char group[G1mLayout::groupLength];
    int groupSize = 0;
    bool refused = false;
    char why[160];
};
