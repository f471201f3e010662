#pragma once

#include "CalcStorage.h"
#include "CasioMainMemory.h"
#include "G1mWriter.h"
#include "MemoryItems.h"

#include <cstdio>
#include <string>
#include <vector>

// .g1m files, as people exchange main-memory items, read and written on this machine through
// the library's reader and writer: no more than one item is ever held in memory.
class G1mFile {
public:
    // Every item of the file at `path`, checked through to its end, with where its data lies;
    // false, with `problem` in words for a user, when it is no sound .g1m file.
    static bool read(const std::string& path, std::vector<MemoryItem>* items, std::string* problem);
    // The data of an item that `read` found; false, with `why`, when the file can't give it.
    static bool readData(const std::string& path, const MemoryItem& item,
                         std::vector<unsigned char>* data, std::string* why);
};

// Hands the one item the calculator sends on to a FileSink as a .g1m file of its own.
class OneItemG1m final : public CasioItemSink {
public:
    explicit OneItemG1m(FileSink* sink) : sink(sink) {}

    bool itemAnnounced(const CasioMemoryItem& item) override;
    bool itemBytes(const Buffer& bytes) override;
    bool itemComplete() override { return false; }

    // Why the item could not be laid out as a .g1m file; empty when it could, or when the
    // sink took no more (it says why itself).
    const std::string& problem() const { return why; }

private:
    FileSink* sink;
    std::string why;
};

// Takes every item the calculator sends, their data kept in a temporary file, and writes them
// as one .g1m file once all have come: its header needs their count and sizes.
class WholeG1m final : public CasioItemSink {
public:
    WholeG1m() : data(tmpfile()) {}
    ~WholeG1m();

    WholeG1m(const WholeG1m&) = delete;
    WholeG1m& operator=(const WholeG1m&) = delete;

    bool itemAnnounced(const CasioMemoryItem& item) override;
    bool itemBytes(const Buffer& bytes) override;
    bool itemComplete() override { return false; }

    // The .g1m file of every item taken, in the order they came, into `sink`. False, with
    // `why`, when it could not be made; false with `why` empty when the sink took no more.
    bool writeInto(FileSink* sink, std::string* why);
    // Why the items could not be kept, if they could not.
    const std::string& problem() const { return why; }
    size_t count() const { return items.size(); }

private:
    bool writeItem(G1mWriter* writer, const CasioMemoryItem& item, FileSink* sink,
                   std::string* problem);

    FILE* data;
    std::vector<MemoryItem> items;
    uint64_t kept = 0;
    std::string why;
};
