// The .g1m reader on any bytes: it refuses them in words, or hands on a container whose pieces
// (header, group headers, items' headers and whole data) add up to the file, the same however
// the bytes are cut. And what the writer lays out reads back item for item.
//
// Input: mode (1 byte; even: read, odd: round trip), then
//   read:       the size of the pieces the file is fed in (1 byte; 0: at once), the file
//   round trip: items until the input ends, each: group (1 byte, modulo 4, of four names),
//               directory and name (a length byte, modulo 9, then the bytes; NUL becomes
//               'x'), type (1 byte), data length (2 bytes, modulo 700), the data

#include "FuzzSupport.h"
#include "G1mReader.h"
#include "G1mWire.h"
#include "G1mWriter.h"

using FuzzSupport::check;
using Items = std::vector<g1mwire::Item>;

namespace {

std::string text(const Buffer& view) {
    return std::string(reinterpret_cast<const char*>(view.getData()), view.getSize());
}

struct Findings : CasioItemSink {
    bool itemAnnounced(const CasioMemoryItem& item) override {
        check(item.directory.getSize() <= 8 && item.name.getSize() <= 8 &&
                  item.group.getSize() <= 16,
              "a name longer than its field");
        items.push_back({item.type, text(item.directory), text(item.name), text(item.group), {}});
        left = item.size;
        return false;
    }
    bool itemBytes(const Buffer& bytes) override {
        check(bytes.getSize() > 0 && static_cast<uint32_t>(bytes.getSize()) <= left,
              "no bytes, or more than announced");
        left -= static_cast<uint32_t>(bytes.getSize());
        items.back().data.insert(items.back().data.end(), bytes.getData(),
                                 bytes.getData() + bytes.getSize());
        return false;
    }
    bool itemComplete() override {
        check(left == 0, "an item ended short");
        ++complete;
        return false;
    }

    Items items;
    uint32_t left = 0;
    size_t complete = 0;
    std::string problem;
};

// What the reader finds in pieces of `step` (0: at once), each a heap block of its exact size.
Findings read(const uint8_t* bytes, size_t size, size_t step) {
    Findings findings;
    G1mReader reader(&findings);
    const size_t piece = step == 0 ? size : step;
    for (size_t at = 0; at < size && reader.problem() == nullptr; at += piece) {
        FuzzSupport::ExactBytes part(bytes + at, std::min(size - at, piece));
        reader.feed(Buffer(part.data(), part.intSize()));
    }
    if (reader.finish()) {
        findings.problem = reader.problem();
        check(!findings.problem.empty(), "a refusal without words");
        return findings;
    }
    uint64_t total = 32 + 20ULL * reader.groupHeaders() + 24ULL * findings.items.size();
    for (const g1mwire::Item& item : findings.items) {
        total += item.data.size();
    }
    check(total == size && total == reader.fileSize() &&
              findings.items.size() == reader.itemCount() &&
              findings.complete == findings.items.size(),
          "the pieces do not add up to the file its header describes");
    return findings;
}

Items itemsFrom(FuzzSupport::Reader& input) {
    static const char* const groups[] = {"PROGRAM", "PICTURE 1", "", "GROUP NAME OF 16"};
    const auto name = [&input] {
        std::string text(input.byte() % 9, 'x');
        for (char& byte : text) {
            byte = static_cast<char>(input.byte());
            byte = byte == '\0' ? 'x' : byte;
        }
        return text;
    };
    Items items;
    while (!input.atEnd() && items.size() < 200) {
        g1mwire::Item item;
        item.group = groups[input.byte() % 4];
        item.directory = name();
        item.name = name();
        item.type = input.byte();
        const uint8_t* bytes = nullptr;
        const size_t length = input.take(input.u16() % 700, &bytes);
        item.data.assign(bytes, bytes + length);
        items.push_back(item);
    }
    return items;
}

Buffer viewOf(const std::string& text) {
    return Buffer(reinterpret_cast<unsigned char*>(const_cast<char*>(text.data())),
                  static_cast<int>(text.size()));
}

// The writer's pieces, made from the items.
std::vector<uint8_t> written(const Items& items) {
    std::vector<CasioMemoryItem> described;
    for (const g1mwire::Item& item : items) {
        described.push_back({item.type, static_cast<uint32_t>(item.data.size()),
                             viewOf(item.directory), viewOf(item.name), viewOf(item.group)});
    }
    G1mWriter writer(described.data(), static_cast<int>(described.size()));
    unsigned char area[G1mWriter::maxItemHeaders];
    Buffer piece(area, sizeof area);
    check(!writer.header(&piece), "the writer refused its header");
    std::vector<uint8_t> file(area, area + piece.getSize());
    for (size_t i = 0; i < items.size(); ++i) {
        piece.setSize(sizeof area);
        check(!writer.itemHeaders(described[i], &piece), "the writer refused an item");
        file.insert(file.end(), area, area + piece.getSize());
        file.insert(file.end(), items[i].data.begin(), items[i].data.end());
    }
    check(!writer.finish() && file.size() == writer.fileSize(), "the writer's size is wrong");
    return file;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzSupport::Reader input(data, size);
    if (input.byte() % 2 == 0) {
        const size_t step = input.byte();
        const uint8_t* bytes = nullptr;
        const size_t length = input.take(input.remaining(), &bytes);
        const Findings whole = read(bytes, length, 0), pieces = read(bytes, length, step);
        check(whole.problem == pieces.problem && whole.items == pieces.items,
              "the findings depend on how the bytes are cut");
        return 0;
    }
    const Items items = itemsFrom(input);
    const std::vector<uint8_t> file = written(items);
    const Findings back = read(file.data(), file.size(), 3);
    check(back.problem.empty() && back.items == items, "a written file does not read back");
    return 0;
}
