// The .g1m reader on any bytes, and the writer's files read back. Whatever it is fed, the
// reader refuses the file in words or hands on a container whose pieces add up to the file:
// the header, its group headers, its items' headers and data, every item whole; and it finds
// the same however the bytes are cut. A file the writer lays out reads back item for item.
//
// Input: mode (1 byte; even: read, odd: round trip), then
//   read:       the size of the pieces the file is fed in (1 byte; 0: at once), the file
//   round trip: items until the input ends, each: group (1 byte, modulo 4, of four names),
//               directory and name (a length byte, modulo 9, then that many bytes; NULs
//               become 'x'), type (1 byte), data length (2 bytes, modulo 700), the data

#include "FuzzSupport.h"
#include "G1mReader.h"
#include "G1mWriter.h"

#include <string>
#include <vector>

using FuzzSupport::check;
using FuzzSupport::ExactBytes;
using FuzzSupport::Reader;

namespace {

struct Item {
    std::string group, directory, name;
    unsigned char type;
    std::vector<unsigned char> data;
    uint32_t announced;
    bool operator==(const Item& other) const {
        return group == other.group && directory == other.directory && name == other.name &&
               type == other.type && data == other.data;
    }
};

std::string text(const Buffer& view) {
    FuzzSupport::touch(view.getData(), view.getSize());
    return std::string(reinterpret_cast<const char*>(view.getData()), view.getSize());
}

struct Findings : CasioItemSink {
    bool itemAnnounced(const CasioMemoryItem& item) override {
        check(item.directory.getSize() <= 8 && item.name.getSize() <= 8 &&
                  item.group.getSize() <= 16,
              "a name longer than its field");
        items.push_back(
            {text(item.group), text(item.directory), text(item.name), item.type, {}, item.size});
        return false;
    }
    bool itemBytes(const Buffer& bytes) override {
        check(!items.empty() && bytes.getSize() > 0, "bytes without an item, or none at all");
        items.back().data.insert(items.back().data.end(), bytes.getData(),
                                 bytes.getData() + bytes.getSize());
        check(items.back().data.size() <= items.back().announced, "more bytes than announced");
        return false;
    }
    bool itemComplete() override {
        check(items.back().data.size() == items.back().announced, "an item ended short");
        ++complete;
        return false;
    }

    std::vector<Item> items;
    size_t complete = 0;
    std::string problem;
};

// Feeds `size` bytes in pieces of `step` (0: at once), each a heap block of its exact size.
Findings read(const uint8_t* bytes, size_t size, size_t step) {
    Findings findings;
    G1mReader reader(&findings);
    const size_t piece = step == 0 ? size : step;
    bool refused = false;
    for (size_t at = 0; at < size && !refused; at += piece) {
        ExactBytes part(bytes + at, size - at < piece ? size - at : piece);
        refused = reader.feed(Buffer(part.data(), part.intSize()));
    }
    refused = reader.finish();
    check(refused == (reader.problem() != nullptr),
          "a refusal without words, or words without one");
    if (refused) {
        findings.problem = reader.problem();
        check(!findings.problem.empty(), "an empty refusal");
        return findings;
    }
    uint64_t total =
        G1mLayout::headerSize + uint64_t(G1mLayout::groupHeaderSize) * reader.groupHeaders();
    for (const Item& item : findings.items) {
        total += G1mLayout::itemHeaderSize + item.data.size();
    }
    check(total == size && total == reader.fileSize(), "the pieces do not add up to the file");
    check(findings.items.size() == reader.itemCount() && findings.complete == findings.items.size(),
          "the items are not those the header counts, each whole");
    return findings;
}

void readAnyBytes(Reader& input) {
    const size_t step = input.byte();
    const uint8_t* bytes = nullptr;
    const size_t size = input.take(input.remaining(), &bytes);
    const Findings whole = read(bytes, size, 0);
    const Findings pieces = read(bytes, size, step);
    check(whole.problem == pieces.problem && whole.items == pieces.items,
          "the findings depend on how the bytes are cut");
}

std::string name(Reader& input, size_t mostBytes) {
    std::string text;
    for (size_t length = input.byte() % (mostBytes + 1); length > 0; --length) {
        const char byte = static_cast<char>(input.byte());
        text += byte == '\0' ? 'x' : byte;
    }
    return text;
}

Buffer viewOf(const std::string& text) {
    return Buffer(reinterpret_cast<unsigned char*>(const_cast<char*>(text.data())),
                  static_cast<int>(text.size()));
}

void roundTrip(Reader& input) {
    static const char* const groups[] = {"PROGRAM", "PICTURE 1", "", "GROUP NAME OF 16"};
    std::vector<Item> items;
    uint64_t dataBytes = 0;
    uint32_t runs = 0;
    while (!input.atEnd() && items.size() < 200) {
        Item item;
        item.group = groups[input.byte() % 4];
        item.directory = name(input, 8);
        item.name = name(input, 8);
        item.type = input.byte();
        const uint8_t* bytes = nullptr;
        item.data.resize(input.take(input.u16() % 700, &bytes));
        std::copy(bytes, bytes + item.data.size(), item.data.begin());
        runs += items.empty() || items.back().group != item.group ? 1 : 0;
        dataBytes += item.data.size();
        items.push_back(item);
    }
    G1mWriter writer(runs, static_cast<uint32_t>(items.size()), dataBytes);
    std::vector<unsigned char> file;
    unsigned char area[G1mLayout::headerSize];
    const auto keep = [&](bool failed) {
        check(!failed, "the writer refused what it was made for");
    };
    Buffer piece(area, sizeof area);
    keep(writer.header(&piece));
    file.insert(file.end(), area, area + piece.getSize());
    for (size_t i = 0; i < items.size(); ++i) {
        if (i == 0 || items[i].group != items[i - 1].group) {
            size_t end = i;
            while (end < items.size() && items[end].group == items[i].group) {
                ++end;
            }
            piece.setSize(sizeof area);
            keep(writer.group(viewOf(items[i].group), static_cast<uint32_t>(end - i), &piece));
            file.insert(file.end(), area, area + piece.getSize());
        }
        piece.setSize(sizeof area);
        const CasioMemoryItem described = {
            items[i].type, static_cast<uint32_t>(items[i].data.size()), viewOf(items[i].directory),
            viewOf(items[i].name), viewOf(items[i].group)};
        keep(writer.item(described, &piece));
        file.insert(file.end(), area, area + piece.getSize());
        file.insert(file.end(), items[i].data.begin(), items[i].data.end());
    }
    keep(writer.finish());
    const Findings back = read(file.data(), file.size(), 3);
    check(back.problem.empty() && back.items == items, "a written file does not read back");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Reader input(data, size);
    if (input.byte() % 2 == 0) {
        readAnyBytes(input);
    } else {
        roundTrip(input);
    }
    return 0;
}
