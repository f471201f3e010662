#include "CasioMainMemory.h"

#include "CasioCommandHeader.h"
#include "CasioDataFetcher.h"
#include "CasioStorage.h"
#include "CasioTurnChecker.h"
#include "Log.h"

#include <cstring>

namespace {

Buffer viewOf(const char* text) {
    // Views of names are only ever read.
    auto* bytes = reinterpret_cast<unsigned char*>(const_cast<char*>(text));
    return text == nullptr ? Buffer(nullptr, 0) : Buffer(bytes, static_cast<int>(strlen(text)));
}

bool same(const Buffer& one, const Buffer& other) {
    return one.getSize() == other.getSize() &&
           (one.getSize() == 0 || memcmp(one.getData(), other.getData(), one.getSize()) == 0);
}

// Items travel in the storage commands' layout: the type in the data type, field 1 the
// directory, 2 the name, 3 the group.
CasioStorageCommand commandFor(const CasioMemoryItem& item) {
    CasioStorageCommand command = CasioCommandHeader::naming(nullptr, nullptr, nullptr);
    command.dataType = item.type;
    command.size = item.size;
    command.fields[CasioCommandHeader::folderField] = item.directory;
    command.fields[CasioCommandHeader::nameField] = item.name;
    command.fields[CasioCommandHeader::groupField] = item.group;
    return command;
}

CasioMemoryItem itemOf(const CasioStorageCommand& command) {
    return {command.dataType, command.size, command.fields[CasioCommandHeader::folderField],
            command.fields[CasioCommandHeader::nameField],
            command.fields[CasioCommandHeader::groupField]};
}

// The commands on the whole memory carry the header with every field empty.
CasioStorageCommand wholeMemory() {
    return CasioCommandHeader::naming(nullptr, nullptr, nullptr);
}

class ItemCollector final : public CasioTurnChecker {
public:
    explicit ItemCollector(CasioItemLister* lister) : lister(lister) {}

    void packetReceived(const CasioPacketInfo& packet) override {
        CasioStorageCommand entry;
        if (readCommand(packet, CasioMainMemory::commandItemIs, &entry) &&
            entry.fields[CasioCommandHeader::nameField].getSize() > 0) {
            lister->itemListed(itemOf(entry));
        }
    }

private:
    CasioItemLister* lister;
};

const CasioDataFetcher::Words itemWords = {
    "The calc sent no item !",
    "The calc sent less of an item than it announced !",
    "The calc sent an unexpected packet with an item !",
    "The calc sent an unreadable part of an item !",
    "The calc sent more parts than it announced !",
    "The calc sent the parts of an item out of order !",
    "The calc sent more of an item than it announced !",
};

// One item asked for, or every item, into the sink; `asked`, when given, is the one item that
// may come.
class ItemFetcher final : public CasioDataFetcher {
public:
    ItemFetcher(CasioItemSink* sink, const CasioMemoryItem* asked)
        : CasioDataFetcher(CasioMainMemory::commandItem, itemWords, asked == nullptr), sink(sink),
          asked(asked) {}

private:
    bool announced(const CasioStorageCommand& command) override {
        const CasioMemoryItem item = itemOf(command);
        if (asked != nullptr && (item.type != asked->type || !same(item.name, asked->name))) {
            fail("The calc sent another item than the one asked for !");
            return true;
        }
        return sink->itemAnnounced(item);
    }
    bool bytes(const Buffer& bytes) override { return sink->itemBytes(bytes); }
    bool complete() override { return sink->itemComplete(); }

    CasioItemSink* sink;
    const CasioMemoryItem* asked;
};

} // namespace

CasioMemoryItem CasioMainMemory::naming(unsigned char type, const char* directory, const char* name,
                                        const char* group) {
    return {type, 0, viewOf(directory), viewOf(name), viewOf(group)};
}

uint32_t CasioMainMemory::paddedSize(uint32_t size) {
    return (size + wordSize - 1) / wordSize * wordSize;
}

bool CasioMainMemory::listItems(Socket* socket, CasioItemLister* lister, int* refusal) {
    ItemCollector collector(lister);
    return CasioStorage::runCommandWithTurn(socket, commandListItems, wholeMemory(), &collector,
                                            refusal) ||
           collector.report();
}

bool CasioMainMemory::freeMemory(Socket* socket, uint32_t* freeBytes, int* refusal) {
    return CasioStorage::askSize(socket, commandFreeMemory, commandFreeMemoryIs, wholeMemory(),
                                 freeBytes, refusal);
}

bool CasioMainMemory::fetchItem(Socket* socket, const CasioMemoryItem& item, CasioItemSink* sink,
                                int* refusal) {
    ItemFetcher fetcher(sink, &item);
    CasioMemoryItem asked = item;
    asked.size = 0;
    return CasioStorage::runCommandWithTurn(socket, commandSendMeAnItem, commandFor(asked),
                                            &fetcher, refusal) ||
           fetcher.judge();
}

bool CasioMainMemory::fetchEveryItem(Socket* socket, CasioItemSink* sink, int* refusal) {
    ItemFetcher fetcher(sink, nullptr);
    return CasioStorage::runCommandWithTurn(socket, commandSendMeEveryItem, wholeMemory(), &fetcher,
                                            refusal) ||
           fetcher.judge();
}

bool CasioMainMemory::sendItem(Socket* socket, const CasioItemUpload& upload,
                               CasioSendListener* listener, int* refusal) {
    if (refusal != nullptr) {
        *refusal = CasioStorage::notRefused;
    }
    const int size = upload.data->getSize();
    if (size <= 0 || size > maxItemSize) {
        Log::error("The item is empty or bigger than the calc takes !");
        return true;
    }
    CasioOutgoing outgoing = {commandItem, commandFor(upload.item), upload.data, upload.overwrite,
                              upload.pipelined};
    outgoing.command.size = paddedSize(static_cast<uint32_t>(size));
    return CasioFileSender::send(socket, outgoing, listener, refusal);
}

bool CasioMainMemory::deleteItem(Socket* socket, const CasioMemoryItem& item, int* refusal) {
    return CasioStorage::runCommand(socket, commandDeleteItem, commandFor(item), refusal);
}
