// The .g1m container: the bytes the writer lays out, against files built by the virtual
// calculator's wire module (written independently of the library), and every file the reader
// must take or refuse, whole or in pieces.

#include "G1mReader.h"
#include "G1mWire.h"
#include "G1mWriter.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<unsigned char>;

using Item = g1mwire::Item;

Bytes g1m(const std::vector<Item>& items, uint8_t type = 0x62, long size = -1, long count = -1) {
    g1mwire::Header header;
    header.type = type;
    if (size >= 0) {
        header.size = static_cast<uint32_t>(size);
    }
    if (count >= 0) {
        header.count = static_cast<uint16_t>(count);
    }
    return g1mwire::file(items, header);
}

Bytes data(size_t size, unsigned char seed) {
    Bytes bytes(size);
    for (size_t i = 0; i < size; ++i) {
        bytes[i] = static_cast<unsigned char>(seed + i * 13);
    }
    return bytes;
}

const std::vector<Item> sample = {
    {0x01, "system", "GAME", "PROGRAM", data(37, 1)},
    {0x01, "system", "EMPTY", "PROGRAM", {}},
    {0x07, "main", "PICT1", "PICTURE 1", data(2048, 2)},
    {0x01, "system", "ZZZZZZZZ", "PROGRAM", data(12, 3)},
};

// What the reader hands on, one line an item: its names, type, size and bytes.
class Collected : public CasioItemSink {
public:
    bool itemAnnounced(const CasioMemoryItem& item) override {
        const auto text = [](const Buffer& view) {
            return std::string(reinterpret_cast<const char*>(view.getData()), view.getSize());
        };
        items.push_back({item.type, text(item.directory), text(item.name), text(item.group), {}});
        announced.push_back(item.size);
        return false;
    }
    bool itemBytes(const Buffer& bytes) override {
        items.back().data.insert(items.back().data.end(), bytes.getData(),
                                 bytes.getData() + bytes.getSize());
        return false;
    }
    bool itemComplete() override {
        complete += items.back().data.size() == announced.back() ? 1 : 100;
        return false;
    }

    std::vector<Item> items;
    std::vector<uint32_t> announced;
    int complete = 0;
};

} // namespace

namespace g1mwire {

bool operator==(const Item& one, const Item& other) {
    return one.group == other.group && one.directory == other.directory && one.name == other.name &&
           one.type == other.type && one.data == other.data;
}

// Reads `bytes` in pieces of `step` (0: at once): the items, and the problem or "".
std::string read(Bytes bytes, Collected& collected, size_t step = 0) {
    G1mReader reader(&collected);
    bool refused = false;
    for (size_t at = 0; at < bytes.size() && !refused; at += step == 0 ? bytes.size() : step) {
        const size_t count = std::min(bytes.size() - at, step == 0 ? bytes.size() : step);
        refused = reader.feed(Buffer(bytes.data() + at, static_cast<int>(count)));
    }
    refused = refused || reader.finish();
    EXPECT_EQ(refused, reader.problem() != nullptr);
    return refused ? reader.problem() : "";
}

TEST(G1mReader, TakesEveryKindOfFileWholeOrInPieces) {
    Bytes zeroAtF = g1m(sample);
    zeroAtF[0x0F] = 0xFF;
    const struct {
        const char* name;
        Bytes bytes;
        std::vector<Item> items;
    } cases[] = {
        {"type 0x62, a group again further on", g1m(sample), sample},
        {"type 0x31", g1m(sample, 0x31), sample},
        {"colour, 0x75", g1m(sample, 0x75), sample},
        {"00 at 0x0F", zeroAtF, sample},
        {"no items", g1m({}), {}},
        {"odd lengths",
         g1m({{0x05, "main", "1", "LIST 1", data(1, 4)},
              {0x05, "main", "2", "LIST 1", data(3, 5)}}),
         {{0x05, "main", "1", "LIST 1", data(1, 4)}, {0x05, "main", "2", "LIST 1", data(3, 5)}}},
    };
    for (const auto& scenario : cases) {
        for (const size_t step : {size_t(0), size_t(1), size_t(7), size_t(300)}) {
            Collected collected;
            EXPECT_EQ(read(scenario.bytes, collected, step), "") << scenario.name << step;
            EXPECT_TRUE(collected.items == scenario.items) << scenario.name << step;
            EXPECT_EQ(collected.complete, static_cast<int>(scenario.items.size()));
        }
    }
}

Bytes changed(Bytes bytes, size_t offset, unsigned char value) {
    bytes[offset] = value;
    return bytes;
}

Bytes plus(Bytes bytes, const Bytes& more) {
    bytes.insert(bytes.end(), more.begin(), more.end());
    return bytes;
}

TEST(G1mReader, RefusesEveryDamageInWordsAndHandsOnNothingPastIt) {
    const Bytes good = g1m(sample);
    const uint32_t size = static_cast<uint32_t>(good.size());
    Bytes plain = good;
    for (size_t i = 0; i < 32; ++i) {
        plain[i] ^= 0xFF;
    }
    Bytes moreInGroup = good;
    moreInGroup[32 + 19] = 5; // the first group holds 5 where 4 items are counted in all
    const struct {
        const char* name;
        Bytes bytes;
        const char* problem;
        size_t itemsHandedOn;
    } cases[] = {
        {"too short", Bytes(good.begin(), good.begin() + 31), "too short for a .g1m file: 31", 0},
        {"another file", changed(good, 3, 'x'), "not a .g1m file", 0},
        {"not inverted", plain, "not stored inverted", 0},
        {"type byte", changed(good, 8, 0xFF ^ 0x63), "type byte is 0x63", 0},
        {"fixed bytes", changed(good, 10, 0xFF), "inverted header is damaged", 0},
        {"byte 0x0F", changed(good, 0x0F, 0xFD), "inverted header is damaged", 0},
        {"control byte 0x0E", changed(good, 0x0E, 0), "control byte", 0},
        {"control byte 0x14", changed(good, 0x14, 0), "control byte", 0},
        {"size below the header", g1m({}, 0x62, 31), "fewer than its header", 0},
        {"size field too big", g1m(sample, 0x62, size + 4), "4 items, which end at byte 2285", 4},
        {"size field too small", g1m(sample, 0x62, size - 12), "item 4 runs past the end", 3},
        {"count too big", g1m(sample, 0x62, size, 5), "counts 5 items, but it ends after 4", 4},
        {"count too small", g1m(sample, 0x62, size, 3), "counts 3 items, which end at byte", 3},
        {"a group beyond the count", moreInGroup, "a group counts 5 items where 4", 0},
        {"cut inside an item", Bytes(good.begin(), good.end() - 5), "cut short", 4},
        {"trailing bytes", plus(good, {0}), "trailing bytes", 4},
        {"size ends inside a header", g1m(sample, 0x62, 32 + 10), "inside the header of a group",
         0},
    };
    for (const auto& scenario : cases) {
        Collected collected;
        const std::string problem = read(scenario.bytes, collected, 5);
        EXPECT_NE(problem.find(scenario.problem), std::string::npos)
            << scenario.name << ": " << problem;
        EXPECT_EQ(collected.items.size(), scenario.itemsHandedOn) << scenario.name;
    }
}

// The writer's pieces, one after another, make the very bytes of the layout; the reader takes
// them back.
TEST(G1mWriter, LaysOutTheFileAPieceAtATimeAndTheReaderTakesItBack) {
    uint64_t dataBytes = 0;
    for (const Item& item : sample) {
        dataBytes += item.data.size();
    }
    G1mWriter writer(3, 4, dataBytes);
    Bytes written;
    unsigned char area[32];
    Buffer piece(area, sizeof area);
    const auto keep = [&](bool failed) {
        ASSERT_FALSE(failed) << writer.problem();
        written.insert(written.end(), area, area + piece.getSize());
        piece.setSize(sizeof area);
    };
    const auto view = [](const std::string& text) {
        return Buffer(reinterpret_cast<unsigned char*>(const_cast<char*>(text.data())),
                      static_cast<int>(text.size()));
    };
    keep(writer.header(&piece));
    for (size_t i = 0; i < sample.size(); ++i) {
        const Item& item = sample[i];
        if (i == 0 || item.group != sample[i - 1].group) {
            keep(writer.group(view(item.group), i == 0 ? 2 : 1, &piece));
        }
        const CasioMemoryItem described = {item.type, static_cast<uint32_t>(item.data.size()),
                                           view(item.directory), view(item.name), view(item.group)};
        keep(writer.item(described, &piece));
        written.insert(written.end(), item.data.begin(), item.data.end());
    }
    EXPECT_FALSE(writer.finish()) << writer.problem();
    EXPECT_EQ(written, g1m(sample));
    Collected collected;
    EXPECT_EQ(read(written, collected), "");
    EXPECT_TRUE(collected.items == sample);
}

TEST(G1mWriter, RefusesWhatWouldNotReadBackOrNotMatchItsHeader) {
    unsigned char area[32];
    unsigned char nul[] = {'A', 0, 'B'};
    unsigned char long9[] = "ABCDEFGHI";
    const CasioMemoryItem named[] = {
        {1, 0, Buffer(long9, 9), Buffer(long9, 1), Buffer()},
        {1, 0, Buffer(long9, 1), Buffer(nul, 3), Buffer()},
        {1, 5, Buffer(long9, 1), Buffer(long9, 1), Buffer()}, // more data than planned
    };
    for (const CasioMemoryItem& item : named) {
        G1mWriter writer(1, 1, 4);
        Buffer piece(area, sizeof area);
        ASSERT_FALSE(writer.header(&piece));
        piece.setSize(sizeof area);
        ASSERT_FALSE(writer.group(Buffer(long9, 3), 1, &piece));
        piece.setSize(sizeof area);
        EXPECT_TRUE(writer.item(item, &piece));
        EXPECT_TRUE(writer.finish());
        EXPECT_NE(writer.problem(), nullptr);
    }
    G1mWriter unfinished(1, 2, 0);
    Buffer piece(area, sizeof area);
    ASSERT_FALSE(unfinished.header(&piece));
    piece.setSize(sizeof area);
    EXPECT_TRUE(unfinished.group(Buffer(long9, 3), 3, &piece)) << "more items than planned";
    EXPECT_TRUE(unfinished.finish());
    uint32_t size = 0;
    EXPECT_TRUE(G1mWriter::fileSize(1, 0x10000, 0, &size));
    EXPECT_TRUE(G1mWriter::fileSize(1, 1, 0xFFFFFFFFu, &size));
}

} // namespace g1mwire
