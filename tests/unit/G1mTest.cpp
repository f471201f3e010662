// The .g1m container: the bytes the writer lays out, against files built by the virtual
// calculator's wire module (written independently of the library), and every file the reader
// must take or refuse, whole or in pieces.

#include "G1mReader.h"
#include "G1mWire.h"
#include "G1mWriter.h"

#include <gtest/gtest.h>

namespace {

using g1mwire::Item;

const std::vector<Item> sample = {
    {0x01, "system", "GAME", "PROGRAM", Bytes(37, 0x5C)},
    {0x01, "system", "EMPTY", "PROGRAM", {}},
    {0x07, "main", "PICT1", "PICTURE 1", Bytes(2048, 0xFF)},
    {0x01, "system", "ZZZZZZZZ", "PROGRAM", Bytes(12, 0x00)},
};

std::string text(const Buffer& view) {
    return std::string(reinterpret_cast<const char*>(view.getData()), view.getSize());
}

Buffer view(const std::string& text) {
    return Buffer(reinterpret_cast<unsigned char*>(const_cast<char*>(text.data())),
                  static_cast<int>(text.size()));
}

// What the reader hands on, an item whole each time it ends.
class Collected : public CasioItemSink {
public:
    bool itemAnnounced(const CasioMemoryItem& item) override {
        coming = {item.type, text(item.directory), text(item.name), text(item.group), {}};
        size = item.size;
        return false;
    }
    bool itemBytes(const Buffer& bytes) override {
        coming.data.insert(coming.data.end(), bytes.getData(), bytes.getData() + bytes.getSize());
        return false;
    }
    bool itemComplete() override {
        EXPECT_EQ(coming.data.size(), size);
        items.push_back(coming);
        return false;
    }
    std::vector<Item> items;

private:
    Item coming;
    uint32_t size = 0;
};

std::string read(Bytes bytes, Collected& collected, size_t step) {
    G1mReader reader(&collected);
    for (size_t at = 0; at < bytes.size(); at += step) {
        reader.feed(Buffer(bytes.data() + at, static_cast<int>(std::min(step, bytes.size() - at))));
    }
    return reader.finish() ? reader.problem() : "";
}

Bytes changed(Bytes bytes, size_t offset, uint8_t value) {
    bytes[offset] = value;
    return bytes;
}

// Every file taken, whole or in pieces, item for item; every damage refused in words, with
// nothing handed on past it.
TEST(G1mReader, TakesEveryKindOfFileAndRefusesEveryDamage) {
    const Bytes good = g1mwire::file(sample);
    const uint32_t size = static_cast<uint32_t>(good.size());
    const auto lying = [](uint32_t sizeField, std::optional<uint16_t> count = std::nullopt) {
        return g1mwire::file(sample, {0x62, sizeField, count});
    };
    Bytes plain = good;
    for (size_t i = 0; i < 32; ++i) {
        plain[i] ^= 0xFF;
    }
    Bytes trailing = good;
    trailing.push_back(0);
    const std::vector<Item> lists = {{0x05, "main", "1", "LIST 1", Bytes(1, 4)},
                                     {0x05, "main", "2", "LIST 1", Bytes(3, 5)}};
    const struct {
        Bytes bytes;
        const char* problem; // "": taken
        size_t itemsHandedOn;
    } cases[] = {
        {good, "", 4}, // type 0x62, a group header again further on
        {g1mwire::file(sample, {0x31, {}, {}}), "", 4},
        {g1mwire::file(sample, {0x75, {}, {}}), "", 4},
        {changed(good, 0x0F, 0xFF), "", 4}, // 00 at 0x0F
        {g1mwire::file({}), "", 0},
        {g1mwire::file(lists), "", 2}, // odd lengths
        {Bytes(good.begin(), good.begin() + 31), "too short for a .g1m file: 31", 0},
        {changed(good, 3, 'x'), "not a .g1m file", 0},
        {plain, "not stored inverted", 0},
        {changed(good, 8, 0xFF ^ 0x63), "type byte is 0x63", 0},
        {changed(good, 10, 0xFF), "inverted header is damaged", 0},
        {changed(good, 0x0F, 0xFD), "inverted header is damaged", 0},
        {changed(good, 0x0E, 0), "control byte", 0},
        {changed(good, 0x14, 0), "control byte", 0},
        {g1mwire::file({}, {0x62, 31, {}}), "fewer than its header", 0},
        {lying(size + 4), "4 items, which end at byte 2285", 4},
        {lying(size - 12), "item 4 runs past the end", 3},
        {lying(size, 5), "counts 5 items, but it ends after 4", 4},
        {lying(size, 3), "counts 3 items, which end at byte", 3},
        {changed(good, 32 + 19, 5), "a group counts 5 items where 4", 0},
        {Bytes(good.begin(), good.end() - 5), "cut short", 3},
        {trailing, "trailing bytes", 4},
        {lying(32 + 10), "inside the header of a group", 0},
    };
    for (const auto& scenario : cases) {
        std::string wireProblem;
        const std::optional<std::vector<Item>> items = g1mwire::read(scenario.bytes, wireProblem);
        for (const size_t step : {size_t(100000), size_t(1), size_t(7)}) {
            Collected collected;
            const std::string problem = read(scenario.bytes, collected, step);
            EXPECT_NE(problem.find(scenario.problem), std::string::npos) << problem;
            EXPECT_EQ(problem.empty(), *scenario.problem == '\0') << problem;
            EXPECT_EQ(problem.empty(), items.has_value()) << "the wire module: " << wireProblem;
            EXPECT_TRUE(items ? collected.items == *items
                              : collected.items.size() == scenario.itemsHandedOn)
                << problem << " " << step;
        }
    }
}

std::vector<CasioMemoryItem> described(const std::vector<Item>& items) {
    std::vector<CasioMemoryItem> described;
    for (const Item& item : items) {
        described.push_back({item.type, static_cast<uint32_t>(item.data.size()),
                             view(item.directory), view(item.name), view(item.group)});
    }
    return described;
}

// A file of the items `planned`, as G1mWriter writes it when `coming` come: its problem, or "".
std::string write(const std::vector<Item>& planned, const std::vector<Item>& coming,
                  Bytes* written) {
    const std::vector<CasioMemoryItem> items = described(planned);
    G1mWriter writer(items.data(), static_cast<int>(items.size()));
    unsigned char area[G1mWriter::maxItemHeaders];
    Buffer piece(area, sizeof area);
    bool failed = writer.header(&piece);
    written->assign(area, area + piece.getSize());
    for (size_t i = 0; i < coming.size() && !failed; ++i) {
        piece.setSize(sizeof area);
        failed = writer.itemHeaders(described(coming)[i], &piece);
        written->insert(written->end(), area, area + piece.getSize());
        written->insert(written->end(), coming[i].data.begin(), coming[i].data.end());
    }
    failed = writer.finish() || failed;
    EXPECT_EQ(failed || written->size() != writer.fileSize(), writer.problem() != nullptr);
    return failed ? writer.problem() : "";
}

// The writer's pieces, one after another, make the very bytes of the wire module's file. Names
// that would not read back refuse the file before anything is written; items that come
// otherwise than planned, or too few or too many, refuse it as they come.
TEST(G1mWriter, LaysOutTheFileAPieceAtATimeAsPlanned) {
    Bytes written;
    EXPECT_EQ(write(sample, sample, &written), "");
    EXPECT_EQ(written, g1mwire::file(sample));
    Item longName = sample[0], withNul = sample[0], longer = sample[0];
    longName.directory = "DIRECTORY";
    withNul.name = std::string("A\0B", 3);
    longer.data.push_back(0);
    const std::vector<Item> game = {sample[0]}, twice = {sample[0], sample[0]};
    const std::vector<Item> refused[][2] = {{{longName}, {longName}},
                                            {{withNul}, {withNul}},
                                            {game, {longer}},
                                            {twice, game},
                                            {game, twice}};
    for (const auto& [planned, coming] : refused) {
        EXPECT_NE(write(planned, coming, &written), "") << planned.size() << coming.size();
    }
}

} // namespace
