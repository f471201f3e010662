#include "G1mFile.h"

#include "G1mReader.h"
#include "G1mWriter.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr size_t chunkSize = 64 * 1024;

// Every item the reader hands on, and where in the file its data lies: the reader's views are
// of the chunk it was fed.
class Finder final : public CasioItemSink {
public:
    bool itemAnnounced(const CasioMemoryItem& item) override {
        items.push_back(MemoryItems::itemOf(item));
        located = false;
        return false;
    }
    bool itemBytes(const Buffer& bytes) override {
        if (!located) {
            items.back().offset = chunkStart + static_cast<uint64_t>(bytes.getData() - chunk);
            located = true;
        }
        return false;
    }
    bool itemComplete() override { return false; }

    std::vector<MemoryItem> items;
    uint64_t chunkStart = 0;
    const unsigned char* chunk = nullptr;

private:
    bool located = false;
};

bool putAll(FileSink* sink, const unsigned char* bytes, size_t count) {
    return count == 0 || sink->take(bytes, count);
}

bool putPiece(FileSink* sink, const Buffer& piece) {
    return putAll(sink, piece.getData(), static_cast<size_t>(piece.getSize()));
}

} // namespace

bool G1mFile::read(const std::string& path, std::vector<MemoryItem>* items, std::string* problem) {
    const int file = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (file < 0) {
        *problem = std::string("can't open it (") + strerror(errno) + ")";
        return false;
    }
    Finder finder;
    G1mReader reader(&finder);
    std::vector<unsigned char> chunk(chunkSize);
    ssize_t got = 0;
    bool refused = false;
    while (!refused && (got = ::read(file, chunk.data(), chunk.size())) > 0) {
        finder.chunk = chunk.data();
        refused = reader.feed(Buffer(chunk.data(), static_cast<int>(got)));
        finder.chunkStart += static_cast<uint64_t>(got);
    }
    const int readError = got < 0 ? errno : 0;
    close(file);
    if (readError != 0) {
        *problem = std::string("can't read it (") + strerror(readError) + ")";
        return false;
    }
    if (refused || reader.finish()) {
        *problem = reader.problem() != nullptr ? reader.problem() : "it is no .g1m file";
        return false;
    }
    *items = finder.items;
    MemoryItems::namePaths(items);
    return true;
}

bool G1mFile::readData(const std::string& path, const MemoryItem& item,
                       std::vector<unsigned char>* data, std::string* why) {
    const int file = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    data->resize(item.size);
    size_t count = 0;
    ssize_t got = 1;
    while (file >= 0 && count < data->size() && got > 0) {
        got = pread(file, data->data() + count, data->size() - count,
                    static_cast<off_t>(item.offset + count));
        count += got > 0 ? static_cast<size_t>(got) : 0;
    }
    const int cause = errno;
    if (file >= 0) {
        close(file);
    }
    if (count != data->size()) {
        *why = file < 0 || got < 0 ? std::string("can't read it (") + strerror(cause) + ")"
                                   : "it has changed since it was checked";
        return false;
    }
    return true;
}

bool OneItemG1m::itemAnnounced(const CasioMemoryItem& item) {
    G1mWriter writer(&item, 1);
    unsigned char headers[G1mLayout::headerSize + G1mWriter::maxItemHeaders];
    Buffer header(headers, G1mLayout::headerSize);
    Buffer itemHeaders(headers + G1mLayout::headerSize, G1mWriter::maxItemHeaders);
    if (writer.header(&header) || writer.itemHeaders(item, &itemHeaders)) {
        why = std::string("it can't be written as a .g1m file (") + writer.problem() + ")";
        return true;
    }
    sink->announced(writer.fileSize());
    return !putAll(sink, headers, static_cast<size_t>(header.getSize() + itemHeaders.getSize()));
}

bool OneItemG1m::itemBytes(const Buffer& bytes) {
    return !putPiece(sink, bytes);
}

WholeG1m::~WholeG1m() {
    if (data != nullptr) {
        fclose(data);
    }
}

bool WholeG1m::itemAnnounced(const CasioMemoryItem& item) {
    if (data == nullptr) {
        why = std::string("can't keep the items in a temporary file (") + strerror(errno) + ")";
        return true;
    }
    items.push_back(MemoryItems::itemOf(item));
    items.back().offset = kept;
    return false;
}

bool WholeG1m::itemBytes(const Buffer& bytes) {
    const auto count = static_cast<size_t>(bytes.getSize());
    if (fwrite(bytes.getData(), 1, count, data) != count) {
        why = std::string("can't keep the items in a temporary file (") + strerror(errno) + ")";
        return true;
    }
    kept += count;
    return false;
}

namespace {

// Why writing stopped: what the writer or the system says, or nothing when the sink took no
// more (it says why itself). Always false, for returning.
bool stoppedBy(std::string* problem, const char* cause) {
    *problem = cause != nullptr
                   ? std::string("main memory can't be written as a .g1m file (") + cause + ")"
                   : "";
    return false;
}

} // namespace

bool WholeG1m::writeInto(FileSink* sink, std::string* problem) {
    std::vector<CasioMemoryItem> views;
    for (const MemoryItem& item : items) {
        views.push_back(item.view());
    }
    G1mWriter writer(views.data(), static_cast<int>(views.size()));
    unsigned char piece[G1mLayout::headerSize];
    Buffer header(piece, sizeof piece);
    if (writer.header(&header)) {
        return stoppedBy(problem, writer.problem());
    }
    if (fflush(data) != 0 || fseek(data, 0, SEEK_SET) != 0) {
        return stoppedBy(problem, strerror(errno));
    }
    sink->announced(writer.fileSize());
    if (!putPiece(sink, header)) {
        return stoppedBy(problem, nullptr);
    }
    for (const CasioMemoryItem& item : views) {
        if (!writeItem(&writer, item, sink, problem)) {
            return false;
        }
    }
    return !writer.finish() || stoppedBy(problem, writer.problem());
}

// The headers before the item's data, then its data from the temporary file.
bool WholeG1m::writeItem(G1mWriter* writer, const CasioMemoryItem& item, FileSink* sink,
                         std::string* problem) {
    unsigned char piece[G1mWriter::maxItemHeaders];
    Buffer headers(piece, sizeof piece);
    if (writer->itemHeaders(item, &headers)) {
        return stoppedBy(problem, writer->problem());
    }
    if (!putPiece(sink, headers)) {
        return stoppedBy(problem, nullptr);
    }
    std::vector<unsigned char> chunk(std::min<size_t>(item.size, chunkSize));
    for (uint32_t left = item.size; left > 0;) {
        const size_t want = std::min<size_t>(left, chunk.size());
        if (fread(chunk.data(), 1, want, data) != want) {
            return stoppedBy(problem, "its items can't be read back from a temporary file");
        }
        if (!putAll(sink, chunk.data(), want)) {
            return stoppedBy(problem, nullptr);
        }
        left -= static_cast<uint32_t>(want);
    }
    return true;
}
