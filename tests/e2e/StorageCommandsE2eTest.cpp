// The storage commands, written once, on both kinds of calculator: every row runs against a
// link calculator in its receive mode and against one that connects as a USB drive, with the
// same files, and must end the same way, save where a row says how a drive differs.

#include "E2eSupport.h"

#include <gtest/gtest.h>
#include <map>
#include <optional>

namespace {

const std::string tolvane = TOLVANE;

using Files = std::map<std::string, std::string>; // path: bytes

// A name a hostile calculator could give: an escape sequence, a C1 control, no UTF-8.
const std::string hostile = "BAD\x1b[2J\xC2\x9B\xFF.TXT";
// BIG.BIN outgrows what a stream buffers.
const Files onCalculator = {
    {"A.TXT", "a"}, {"BIG.BIN", std::string(10000, 'b')}, {"NOTES/B.TXT", "bb"}, {hostile, "bad"}};
const Files local = {{"HELLO.TXT", "hello"}, {"new/A.TXT", "new a"}};

Files with(Files files, const Files& changes) {
    for (const auto& [name, bytes] : changes) {
        files[name] = bytes;
    }
    return files;
}

Files without(Files files, const std::string& name) {
    files.erase(name);
    return files;
}

struct Outcome {
    int status;
    std::string out;
    std::string err; // a part of it
    Files calculatorAfter = onCalculator;
    Files localAfter = local;
};

struct Row {
    std::vector<std::string> arguments;
    Outcome link;
    std::optional<Outcome> drive = std::nullopt; // where a drive calculator ends otherwise
};

const std::string exists = "new/A.TXT: exists on the calculator; -w replaces it";
const std::vector<Row> rows = {
    {{"list"}, {0, "1\tA.TXT\n3\tBAD?[2J??.TXT\n10000\tBIG.BIN\n2\tNOTES/B.TXT\n", ""}},
    {{"get", "A.TXT", "notes/b.txt"},
     {1, "", "notes/b.txt: not fetched", onCalculator, with(local, {{"A.TXT", "a"}})},
     // The drive's FAT file system finds names whatever their case.
     Outcome{0, "", "", onCalculator, with(local, {{"A.TXT", "a"}, {"b.txt", "bb"}})}},
    {{"get", "-o", "-", "NOTES/B.TXT"}, {0, "bb", ""}},
    {{"get", "-o", "/dev/full", "BIG.BIN"},
     {1, "", "/dev/full: can't write it (No space left on device)"}},
    {{"get", "A.TXT", "MISSING"},
     {1, "", "MISSING: not fetched: the calculator has no such file", onCalculator,
      with(local, {{"A.TXT", "a"}})}},
    {{"get", "-w", "A.TXT", "NOTES/A.TXT"},
     {1, "", "NOTES/A.TXT: lands on the same file as A.TXT"}},
    {{"send", "HELLO.TXT"}, {0, "", "", with(onCalculator, {{"HELLO.TXT", "hello"}})}},
    {{"send", "-F", "NOTES", "HELLO.TXT"},
     {0, "", "", with(onCalculator, {{"NOTES/HELLO.TXT", "hello"}})}},
    {{"send", "new/A.TXT"}, {1, "", exists}},
    {{"send", "-w", "new/A.TXT"}, {0, "", "", with(onCalculator, {{"A.TXT", "new a"}})}},
    {{"delete", "A.TXT", "MISSING"},
     {1, "", "MISSING: not deleted", without(onCalculator, "A.TXT")}},
    {{"list", "-d", "crd0"},
     {1, "", "Can't list the files of crd0"},
     Outcome{1, "", "1-4.1 connects as a USB drive, which has no SD card"}},
    {{"optimize"}, {0, "", "optimized fls0"}, Outcome{0, "", "needs no optimizing"}},
};

// Each row on each kind, as a test of its own: they run side by side.
class StorageCommandsE2eTest : public ::testing::TestWithParam<std::tuple<size_t, bool>> {
protected:
    // The files below `folder`, temporary ones included, with their bytes.
    static Files filesIn(const std::string& folder) {
        Files files;
        for (const std::string& name : filesBelow(folder)) {
            files[name] = readFile(folder + "/" + name);
        }
        return files;
    }

    void check(const Row& row, bool drive) {
        const TemporaryDirectory directory;
        // A lone drive sits behind the hub; its folder is the root of its file system.
        const std::string storage = directory / (drive ? "storage/1-4.1" : "storage/fls0");
        for (const auto& [name, bytes] : onCalculator) {
            writeFile(storage + "/" + name, bytes);
        }
        for (const auto& [name, bytes] : local) {
            writeFile(directory / ("work/" + name), bytes);
        }
        std::vector<std::string> options = {"--storage", directory / "storage"};
        if (drive) {
            options.push_back("--drive");
        }
        std::vector<std::string> command = {tolvane};
        command.insert(command.end(), row.arguments.begin(), row.arguments.end());
        const RunResult run = runOnCalculator(options, command, directory / "work");
        const Outcome& expected = drive && row.drive ? *row.drive : row.link;
        const std::string what = (drive ? "drive: " : "link: ") + row.arguments[0] + " " +
                                 row.arguments.back() + "\n" + run.err;
        EXPECT_EQ(run.status, expected.status) << what;
        EXPECT_EQ(run.out, expected.out) << what;
        EXPECT_TRUE(contains(run.err, expected.err)) << expected.err << " in " << what;
        EXPECT_TRUE(violationsIn(run.err).empty()) << what;
        EXPECT_FALSE(sanitizerReported(run)) << what;
        EXPECT_EQ(filesIn(storage), expected.calculatorAfter) << what;
        EXPECT_EQ(filesIn(directory / "work"), expected.localAfter) << what;
    }
};

TEST_P(StorageCommandsE2eTest, EndsTheSameOnBothKinds) {
    check(rows[std::get<0>(GetParam())], std::get<1>(GetParam()));
}

INSTANTIATE_TEST_SUITE_P(EveryCommand, StorageCommandsE2eTest,
                         ::testing::Combine(::testing::Range<size_t>(0, rows.size()),
                                            ::testing::Bool()),
                         [](const auto& info) {
                             const Row& row = rows[std::get<0>(info.param)];
                             return row.arguments[0] + std::to_string(std::get<0>(info.param)) +
                                    (std::get<1>(info.param) ? "OnADrive" : "OnALink");
                         });

} // namespace
