#pragma once

#include "Buffer.h"
#include "CasioFileSender.h"
#include "Socket.h"

#include <cstdint>

// An item of main memory (a program, a list, a picture, ...), named by its data type, its
// directory (e.g. "system", "main", "@REV2"), its name and its group (what the MEMORY menu
// shows, e.g. "PROGRAM", "PICTURE 3"). The names are views: of the caller's text when an item
// is asked for, of what the calculator sent when it describes one (the next packet reuses
// that storage).
struct CasioMemoryItem {
    unsigned char type;
    uint32_t size;
    Buffer directory;
    Buffer name;
    Buffer group;
};

// Takes the items of main memory as the calculator lists them, one at a time.
class CasioItemLister {
public:
    virtual void itemListed(const CasioMemoryItem& item) = 0;

protected:
    ~CasioItemLister() = default;
};

// Takes the items the calculator sends, a part at a time: an item announced, its bytes in
// order, then its end; then the next item, if several were asked for. True from any of them
// when the item could not be kept; nothing more then reaches the sink.
class CasioItemSink {
public:
    virtual bool itemAnnounced(const CasioMemoryItem& item) = 0;
    virtual bool itemBytes(const Buffer& bytes) = 0;
    virtual bool itemComplete() = 0;

protected:
    ~CasioItemSink() = default;
};

// An item to send: its size is that of `data`.
struct CasioItemUpload {
    CasioMemoryItem item;
    Buffer* data;
    bool overwrite; // replace an item of the same name; otherwise leave it and fail
    bool pipelined; // each part goes out before the answer to the one before is read
};

// The main-memory commands of an open link, beside the storage commands: listing the items,
// the free main memory, fetching one item or every item, sending one and deleting one. They
// follow the storage commands' rules (CasioStorage): each runs whole, the calculator's turn
// included, leaves the link ready for the next command, and returns true on failure, with the
// calculator's refusal in `refusal` (CasioStorage::refusalReason words it) or
// CasioStorage::notRefused. The command that resets main memory (2A) is never sent.
class CasioMainMemory {
public:
    static constexpr unsigned char commandSendMeAnItem = 0x24;
    static constexpr unsigned char commandItem = 0x25;
    static constexpr unsigned char commandDeleteItem = 0x26;
    static constexpr unsigned char commandSendMeEveryItem = 0x29;
    static constexpr unsigned char commandFreeMemory = 0x2B;
    static constexpr unsigned char commandFreeMemoryIs = 0x2C;
    static constexpr unsigned char commandListItems = 0x2D;
    static constexpr unsigned char commandItemIs = 0x2E;

    // Items go out in whole words of this many bytes, zero-padded, as the calculator stores
    // them; items read are taken at any size.
    static constexpr int wordSize = 4;
    static constexpr int maxItemSize = CasioFileSender::maxFileSize;

    // An item named by the caller's text (null for an empty name); its size is 0.
    static CasioMemoryItem naming(unsigned char type, const char* directory, const char* name,
                                  const char* group);
    // The size an item of `size` bytes travels with.
    static uint32_t paddedSize(uint32_t size);

    // Every item, as the calculator describes them (2D, one 2E each); entries without a name
    // are skipped.
    static bool listItems(Socket* socket, CasioItemLister* lister, int* refusal = nullptr);
    static bool freeMemory(Socket* socket, uint32_t* freeBytes, int* refusal = nullptr);
    // The item of `item`'s type, directory, name and group (24). Fails, after the calculator's
    // turn, when another item came (by name or type) or it did not arrive whole and in order.
    static bool fetchItem(Socket* socket, const CasioMemoryItem& item, CasioItemSink* sink,
                          int* refusal = nullptr);
    // Every item, one after the other (29); none at all for an empty memory.
    static bool fetchEveryItem(Socket* socket, CasioItemSink* sink, int* refusal = nullptr);
    // Sends an item (25) as CasioFileSender sends a file: the overwrite question, memory
    // full, the parts one by one or pipelined (then CasioFileSender::pipelineBroken may be
    // the refusal). The data is padded to whole words; empty or too big an item is refused
    // before anything is sent.
    static bool sendItem(Socket* socket, const CasioItemUpload& upload, CasioSendListener* listener,
                         int* refusal = nullptr);
    // Deletes the item (26); the size is sent as given, e.g. as the listing told it.
    static bool deleteItem(Socket* socket, const CasioMemoryItem& item, int* refusal = nullptr);
};
