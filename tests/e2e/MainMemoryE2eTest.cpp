// tolvane -d main against the virtual calculator's main memory: programs and pictures listed,
// fetched and sent as .g1m files, which the wire module builds and reads on its own.

#include "E2eSupport.h"
#include "G1mWire.h"

#include <gtest/gtest.h>
#include <map>

namespace {

const std::string tolvane = TOLVANE;

using g1mwire::Item;
using Items = std::vector<Item>;

// Items as a calculator holds them: in whole words of four bytes.
Item item(uint8_t type, const std::string& directory, const std::string& name,
          const std::string& group, size_t size) {
    const std::string bytes = patternBytes(size, static_cast<unsigned>(name.size()));
    return {type, directory, name, group, Bytes(bytes.begin(), bytes.end())};
}

const Item game = item(0x01, "system", "GAME", "PROGRAM", 40);
const Item hello = item(0x01, "system", "HELLO", "PROGRAM", 12);
const Item picture = item(0x07, "main", "PICT1", "PICTURE 1", 2048);
const Item fresh = item(0x01, "system", "NEW", "PROGRAM", 16);
const Item twin = item(0x05, "main", "GAME", "PROGRAM", 8); // a list beside the program
const Items held = {game, hello, picture};

std::string bytesOf(const Items& items) {
    const Bytes bytes = g1mwire::file(items);
    return std::string(bytes.begin(), bytes.end());
}

// The virtual calculator keeps each item in GROUP/DIRECTORY/NAME.TT.
std::string fileOf(const Item& item) {
    char type[3];
    snprintf(type, sizeof type, "%02X", item.type);
    return item.group + "/" + item.directory + "/" + item.name + "." + type;
}

std::map<std::string, std::string> asStored(const Items& items) {
    std::map<std::string, std::string> stored;
    for (const Item& one : items) {
        stored[fileOf(one)] = std::string(one.data.begin(), one.data.end());
    }
    return stored;
}

Items without(Items items, const Item& gone) {
    items.erase(std::find(items.begin(), items.end(), gone));
    return items;
}

struct Row {
    std::vector<std::string> arguments;
    int status;
    std::string out;
    std::string err; // a part of it
    Items after = held;
    std::vector<std::string> calculatorOptions = {};
};

class MainMemoryE2eTest : public ::testing::TestWithParam<size_t> {
protected:
    // tolvane ARGS on a calculator whose main memory holds `held` (and more with options);
    // local .g1m files of every item, of a new one, and a damaged one.
    RunResult run(const std::vector<std::string>& arguments,
                  const std::vector<std::string>& calculatorOptions = {}) {
        writeFile(directory / "held.g1m", bytesOf(held));
        writeFile(directory / "new.g1m", bytesOf({fresh}));
        writeFile(directory / "damaged.g1m", bytesOf({fresh}).substr(0, 60));
        std::vector<std::string> options = {"--storage", "storage", "--count-transfers",
                                            "--main-memory-from", "held.g1m"};
        options.insert(options.end(), calculatorOptions.begin(), calculatorOptions.end());
        std::vector<std::string> command = {tolvane};
        command.insert(command.end(), arguments.begin(), arguments.end());
        RunResult result = runOnCalculator(options, command, directory.path());
        EXPECT_TRUE(violationsIn(result.err).empty()) << result.err;
        EXPECT_FALSE(sanitizerReported(result)) << result.err;
        return result;
    }

    std::map<std::string, std::string> mainMemory() {
        std::map<std::string, std::string> stored;
        for (const std::string& file : filesBelow(directory / "storage/@MainMem")) {
            stored[file] = readFile(directory / ("storage/@MainMem/" + file));
        }
        return stored;
    }

    Items itemsIn(const std::string& file) {
        const std::string bytes = readFile(directory / file);
        std::string problem;
        const auto items = g1mwire::read(Bytes(bytes.begin(), bytes.end()), problem);
        EXPECT_TRUE(items.has_value()) << file << ": " << problem;
        return items.value_or(Items{});
    }

    TemporaryDirectory directory;
};

const std::string exists = "held.g1m: PROGRAM/GAME: exists on the calculator; -w replaces it";
const std::vector<Row> rows = {
    {{"list", "-d", "main"}, 0, "2048\tPICTURE 1/PICT1\n40\tPROGRAM/GAME\n12\tPROGRAM/HELLO\n", ""},
    {{"list", "-l", "-d", "main"},
     0,
     "2048\t07\tmain\tPICTURE "
     "1/PICT1\n40\t01\tsystem\tPROGRAM/GAME\n12\t01\tsystem\tPROGRAM/HELLO\n",
     ""},
    {{"list", "-d", "main", "new.g1m"}, 2, "", "-d is not for it"},
    {{"delete", "-d", "main", "PROGRAM/GAME", "MISSING"},
     1,
     "",
     "MISSING: not deleted: main memory holds no such item",
     without(held, game)},
    {{"free", "-d", "main"}, 0, std::to_string(65536 - 2100) + "\tmain\n", ""},
    {{"send", "-d", "main", "new.g1m"}, 0, "", "", {game, hello, picture, fresh}},
    {{"send", "-d", "main", "held.g1m"}, 1, "", exists},
    {{"send", "-d", "main", "-w", "held.g1m", "new.g1m"}, 0, "", "", {game, hello, picture, fresh}},
    {{"send", "-d", "main", "new.g1m"},
     1,
     "",
     "The items need 16 bytes of main memory, which has 0 free: nothing sent",
     held,
     {"--main-memory-capacity", "2100"}},
    {{"send", "-d", "main", "damaged.g1m", "new.g1m"}, 2, "", "damaged.g1m: the file is cut short"},
    {{"optimize", "-d", "main"}, 2, "", "Main memory is not optimized"},
    // A model without storage memory: main memory is all there is.
    {{"list", "-d", "main"},
     0,
     "2048\tPICTURE 1/PICT1\n40\tPROGRAM/GAME\n12\tPROGRAM/HELLO\n",
     "",
     held,
     {"--no-storage-memory"}},
    {{"list"},
     1,
     "",
     "Can't list the files of fls0: the calculator has no such file or storage",
     held,
     {"--no-storage-memory"}},
};

TEST_P(MainMemoryE2eTest, EveryCommandWorksOnItsItems) {
    const Row& row = rows[GetParam()];
    const RunResult result = run(row.arguments, row.calculatorOptions);
    EXPECT_EQ(result.status, row.status) << result.err;
    EXPECT_EQ(result.out, row.out);
    EXPECT_TRUE(contains(result.err, row.err)) << row.err << " in " << result.err;
    EXPECT_EQ(mainMemory(), asStored(row.after));
    if (row.status == 2) {
        EXPECT_TRUE(contains(result.err, "the host made 0 OUT and 0 IN")) << result.err;
    }
}

INSTANTIATE_TEST_SUITE_P(Rows, MainMemoryE2eTest, ::testing::Range<size_t>(0, rows.size()));

// Each item as a .g1m file of its own, or every one in one file, as the wire module reads
// them back; then that file into an empty calculator gives the same items, byte for byte.
TEST_F(MainMemoryE2eTest, ItemsComeAsG1mFilesAndGoBackTheSame) {
    RunResult result = run({"get", "-d", "main", "PROGRAM/GAME", "PICT1", "MISSING"});
    EXPECT_EQ(result.status, 1);
    EXPECT_TRUE(contains(result.err, "MISSING: not fetched: main memory holds no such item"));
    EXPECT_EQ(itemsIn("GAME.g1m"), Items{game});
    EXPECT_EQ(itemsIn("PICT1.g1m"), Items{picture});

    result = run({"get", "-d", "main", "--whole", "-o", "all.g1m"});
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(itemsIn("all.g1m"), (Items{picture, game, hello})) << "in the calculator's order";
    EXPECT_TRUE(contains(result.err, "sent every item")) << "one command for all: " << result.err;

    const TemporaryDirectory empty;
    result = runOnCalculator({"--storage", empty / "storage"},
                             {tolvane, "send", "-d", "main", directory / "all.g1m"}, empty.path());
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(filesBelow(empty / "storage/@MainMem"), filesBelow(directory / "storage/@MainMem"));
    for (const Item& one : held) {
        EXPECT_EQ(readFile(empty / ("storage/@MainMem/" + fileOf(one))),
                  std::string(one.data.begin(), one.data.end()));
    }
}

// Two items that a group and a name do not tell apart are listed, and fetched, by more.
TEST_F(MainMemoryE2eTest, APathTellsEveryItemApart) {
    writeFile(directory / "twin.g1m", bytesOf({twin}));
    RunResult result = run({"list", "-d", "main"}, {"--main-memory-from", "twin.g1m"});
    EXPECT_EQ(result.out, "2048\tPICTURE 1/PICT1\n8\tPROGRAM/main/GAME\n40\tPROGRAM/system/GAME\n"
                          "12\tPROGRAM/HELLO\n");
    result = run({"get", "-d", "main", "PROGRAM/GAME"}, {"--main-memory-from", "twin.g1m"});
    EXPECT_TRUE(contains(result.err, "PROGRAM/GAME: not fetched: it names several items: "
                                     "PROGRAM/main/GAME PROGRAM/system/GAME"))
        << result.err;
    result = run({"get", "-d", "main", "PROGRAM/main/GAME"}, {"--main-memory-from", "twin.g1m"});
    EXPECT_EQ(itemsIn("GAME.g1m"), Items{twin});
}

} // namespace
