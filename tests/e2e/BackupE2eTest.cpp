// Whole calculators saved and put back: backup, restore and verify, on both kinds of calculator
// with the same files, one calculator or a class set, and backups cut short or damaged.

#include "E2eSupport.h"

#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <map>

namespace {

namespace fs = std::filesystem;

const std::string tolvane = TOLVANE;

using Files = std::map<std::string, std::string>; // DEVICE/NAME: bytes

// What a calculator holds: a link one has an SD card and a program in its main memory (which
// the virtual calculator keeps as a file), a drive a copy of its main memory among its files.
Files holding(bool drive, const std::string& a = "a") {
    Files files = {
        {"fls0/A.TXT", a}, {"fls0/BIG.BIN", patternBytes(3000)}, {"fls0/NOTES/B.TXT", "bb"}};
    if (drive) {
        files["fls0/@MainMem/MEMO.g3m"] = "memo";
    } else {
        files["crd0/SD.TXT"] = "sd";
        files["@MainMem/PROGRAM/system/GAME.01"] = patternBytes(40, 7);
    }
    return files;
}

// A calculator as it is before a restore: empty, but for an empty SD card or its main memory.
Files fresh(bool drive) {
    return drive ? Files{{"fls0/@MainMem/MEMO.g3m", "memo"}} : Files{};
}

class BackupE2eTest : public ::testing::Test {
protected:
    // The shell `script` ($T is tolvane) under `count` calculators of a kind, storage in calcs/.
    RunResult run(bool drive, int count, const std::string& script,
                  const std::vector<std::string>& options = {}) {
        std::vector<std::string> bus = {"--storage", "calcs", "--count-transfers",
                                        drive ? "--drives" : "--calculators",
                                        std::to_string(count)};
        bus.insert(bus.end(), options.begin(), options.end());
        RunResult result = runOnCalculator(bus, {"/bin/sh", "-c", "T=" + tolvane + "; " + script},
                                           directory.path());
        EXPECT_TRUE(violationsIn(result.err).empty()) << result.err;
        EXPECT_FALSE(sanitizerReported(result)) << result.err;
        return result;
    }

    // A drive's folder is the root of its fls0; a link calculator's has fls0/ and crd0/ (the
    // card is in when that folder is there).
    std::string folderOf(const std::string& address, bool drive, const std::string& path) {
        const std::string calculator = directory / ("calcs/" + address + "/");
        return drive ? calculator + path.substr(5) : calculator + path;
    }

    void place(const std::string& address, bool drive, const Files& files, bool card = true) {
        fs::create_directories(directory / ("calcs/" + address + (drive || !card ? "" : "/crd0")));
        for (const auto& [path, bytes] : files) {
            writeFile(folderOf(address, drive, path), bytes);
        }
    }

    Files on(const std::string& address, bool drive) {
        const std::string root = directory / ("calcs/" + address);
        Files files;
        for (const std::string& name : filesBelow(root)) {
            files[(drive ? "fls0/" : "") + name] = readFile(root + "/" + name);
        }
        return files;
    }

    void reset() {
        fs::remove_all(directory / "calcs");
        fs::remove_all(directory / "backup");
    }

    // A backup, in backup/, of a calculator holding `holding(drive)`.
    void backUp(bool drive) {
        reset();
        place("1-4.1", drive, holding(drive));
        ASSERT_EQ(run(drive, 1, "$T backup -o backup").status, 0);
        fs::remove_all(directory / "calcs");
    }

    TemporaryDirectory directory;
};

TEST_F(BackupE2eTest, ARestoreOntoAnEmptyCalculatorMatchesTheBackupByteForByte) {
    for (const bool drive : {false, true}) {
        reset();
        place("1-4.1", drive, holding(drive));
        place("1-4.2", drive, fresh(drive));
        // A drive that is ejected leaves the bus, so it stays mounted for verify.
        RunResult result = run(drive, 2,
                               "$T -c 1-4.1 backup -o backup && $T -c 1-4.2 restore --no-eject "
                               "backup; echo $?; $T -c 1-4.2 verify backup; echo $?");
        // What a drive's @MainMem holds is its own: said, and left alone.
        EXPECT_EQ(result.out, drive ? "backup\n1\n0\n" : "backup\n0\n0\n") << result.err;
        EXPECT_EQ(contains(result.err, "fls0/@MainMem: 1 file not restored: @MainMem is the "
                                       "calculator's main memory"),
                  drive)
            << result.err;
        EXPECT_EQ(on("1-4.2", drive), holding(drive));
        std::vector<std::string> backedUp = {"MANIFEST",     "fls0/A.TXT",
                                             "fls0/BIG.BIN", "fls0/NOTES/B.TXT",
                                             "info.txt",     "main/main-memory.g1m"};
        backedUp.insert(backedUp.begin() + 1, drive ? "fls0/@MainMem/MEMO.g3m" : "crd0/SD.TXT");
        if (drive) {
            backedUp.pop_back(); // a drive's main memory is its @MainMem folder's files
        }
        EXPECT_EQ(filesBelow(directory / "backup"), backedUp);
        EXPECT_EQ(contains(readFile(directory / "backup/MANIFEST"),
                           "item\tmain\t40\tPROGRAM/system/GAME#01\n"),
                  !drive);

        fs::remove(folderOf("1-4.2", drive, "fls0/A.TXT"));
        writeFile(folderOf("1-4.2", drive, "fls0/NOTES/B.TXT"), "bbb");
        writeFile(folderOf("1-4.2", drive, "fls0/NEW.TXT"), "n");
        result = run(drive, 2, "$T -c 1-4.2 verify backup");
        EXPECT_EQ(result.status, 1);
        EXPECT_EQ(result.out, "-1\tfls0/A.TXT\n-2\tfls0/NOTES/B.TXT\n+3\tfls0/NOTES/B.TXT\n"
                              "+1\tfls0/NEW.TXT\n");
    }
}

// Everything that keeps a restore from being whole is found before anything changes; what the
// calculator can't take at all is said and left out.
TEST_F(BackupE2eTest, ARestoreChangesNothingUntilItCanBeWhole) {
    const struct Row {
        std::function<void(const std::string& backup)> spoil;
        Files already;
        std::vector<std::string> options;
        std::string arguments;
        std::string err;
        bool restored;
        bool linkOnly = false;
    } rows[] = {
        {[](const std::string& backup) {
             writeFile(backup + "/MANIFEST", readFile(backup + "/MANIFEST").substr(10));
         },
         {},
         {},
         "",
         "MANIFEST: damaged: line 1 is not the start",
         false},
        {[](const std::string& backup) { writeFile(backup + "/fls0/A.TXT", "x"); },
         {},
         {},
         "",
         "fls0/A.TXT: damaged: its SHA-256 is not the manifest's",
         false},
        {[](const std::string& backup) { fs::remove(backup + "/fls0/NOTES/B.TXT"); },
         {},
         {},
         "",
         "fls0/NOTES/B.TXT: missing from the backup",
         false},
        {nullptr, {{"fls0/A.TXT", "old"}}, {}, "", "fls0/A.TXT: exists on the calculator", false},
        {nullptr, {{"fls0/A.TXT", "old"}}, {}, "-w", "", true},
        {nullptr,
         {},
         {"--capacity", "100"},
         "",
         "Nothing restored: the backup needs 3003 bytes",
         false},
        {nullptr, {}, {"--capacity", "3003"}, "", "", true, true},
    };
    for (const bool drive : {false, true}) {
        for (const Row& row : rows) {
            if (drive && row.linkOnly) {
                continue;
            }
            backUp(drive);
            if (row.spoil) {
                row.spoil(directory / "backup");
            }
            Files before = fresh(drive);
            before.insert(row.already.begin(), row.already.end());
            place("1-4.1", drive, before);
            const RunResult result =
                run(drive, 1, "$T restore " + row.arguments + " backup", row.options);
            EXPECT_EQ(result.status, row.restored && !drive ? 0 : 1) << result.err;
            EXPECT_TRUE(contains(result.err, row.err)) << row.err << " in " << result.err;
            EXPECT_EQ(on("1-4.1", drive), row.restored ? holding(drive) : before) << row.err;
            if (row.spoil) {
                EXPECT_TRUE(
                    contains(result.err, drive ? "mounted it 0 times" : "made 0 OUT and 0 IN"))
                    << "the calculator is not reached: " << result.err;
            }
        }
    }
    // A link calculator without an SD card gets the rest.
    backUp(false);
    place("1-4.1", false, {}, false);
    const RunResult result = run(false, 1, "$T restore backup");
    EXPECT_EQ(result.status, 1);
    EXPECT_TRUE(contains(result.err, "crd0: 1 file not restored: the calculator has no SD card"))
        << result.err;
    Files rest = holding(false);
    rest.erase("crd0/SD.TXT");
    EXPECT_EQ(on("1-4.1", false), rest);
}

// Unplugged or interrupted in the middle, a backup leaves nothing, not even its staged folder.
TEST_F(BackupE2eTest, ABackupCutShortLeavesNothing) {
    const struct {
        std::vector<std::string> options;
        std::string script;
        std::string out;
        std::string err;
    } cases[] = {
        {{"--unplug", "download:5"},
         "$T backup; echo $?",
         "1\n",
         "fls0/BIG.BIN: not fetched: the calculator was unplugged"},
        {{"--report", "report.txt", "--idle-turnaround", "2"},
         "$T backup & until grep -q 'will send fls0/BIG.BIN' report.txt 2> /dev/null; do sleep "
         "0.05; done; sleep 0.2; kill -INT $!; wait $!; echo $?; rm report.txt",
         "130\n",
         "[ERROR]: Interrupted"},
    };
    for (const auto& test : cases) {
        reset();
        place("1-4.1", false, {{"fls0/A.TXT", "a"}, {"fls0/BIG.BIN", patternBytes(256 * 1024)}});
        const RunResult result = run(false, 1, test.script, test.options);
        EXPECT_EQ(result.out, test.out) << result.err;
        EXPECT_TRUE(contains(result.err, test.err)) << result.err;
        EXPECT_TRUE(contains(result.err, "No backup made: 1 of 2 files missing (fls0/BIG.BIN)"))
            << result.err;
        std::vector<std::string> left;
        for (const auto& entry : fs::directory_iterator(directory.path())) {
            left.push_back(entry.path().filename());
        }
        EXPECT_EQ(left, std::vector<std::string>{"calcs"});
    }
}

// A class set: each calculator's backup in a folder of its own, one backup onto all, and one
// calculator failing never stops the others.
TEST_F(BackupE2eTest, AClassSetIsBackedUpAndRestoredAtOnce) {
    for (const char* address : {"1-4.1", "1-4.2", "1-4.3"}) {
        place(address, false, holding(false, address));
    }
    fs::create_directories(directory / "monday");
    RunResult result =
        run(false, 3, "$T backup --all -o monday", {"--at", "1-4.2", "--unplug", "download:2"});
    EXPECT_EQ(result.status, 1);
    EXPECT_TRUE(contains(result.out, "1-4.3\tmonday/1-4.3\n")) << result.out;
    EXPECT_TRUE(contains(result.err, "Done on 3 calculators; failed on 1-4.2")) << result.err;
    EXPECT_EQ(readFile(directory / "monday/1-4.3/fls0/A.TXT"), "1-4.3");
    EXPECT_FALSE(fileExists(directory / "monday/1-4.2"));

    fs::remove_all(directory / "calcs");
    for (const char* address : {"1-4.1", "1-4.2", "1-4.3"}) {
        place(address, false, {});
    }
    result = run(false, 3, "$T restore --all monday/1-4.1", {"--at", "1-4.3", "--capacity", "100"});
    EXPECT_EQ(result.status, 1);
    EXPECT_TRUE(contains(result.err, "Done on 3 calculators; failed on 1-4.3")) << result.err;
    EXPECT_EQ(on("1-4.1", false), holding(false, "1-4.1"));
    EXPECT_EQ(on("1-4.2", false), holding(false, "1-4.1"));
    EXPECT_EQ(on("1-4.3", false), Files{});
}

} // namespace
