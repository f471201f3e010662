// Drive calculators: tolvane's commands on their files, reached through the disk service's
// stand-in on a private system bus, or through the mount table without it. What tolvane cannot
// be made to do at a given moment (a file changing under it, a send cut short in mid-copy)
// goes through DriveTool, which drives the same pieces with a slow source.

#include "E2eSupport.h"

#include <filesystem>
#include <gtest/gtest.h>

namespace {

const std::string tool = DRIVE_TOOL;
const std::string tolvane = TOLVANE;

std::string counts(int mounts, int unmounts, int powerOffs) {
    return "VirtualCalculator: the disk service mounted it " + std::to_string(mounts) +
           " times, unmounted it " + std::to_string(unmounts) + " times and powered it off " +
           std::to_string(powerOffs) + " times";
}

struct Case {
    std::vector<std::string> options; // for the virtual calculator, after --drive
    // $T is tolvane, $D the tool; the drive is at 1-4.1; its folder has a space, which
    // mountinfo escapes.
    std::string script;
    int status;
    std::string out;
    std::vector<std::string> errParts; // each in the standard error, in any order
    std::vector<std::string> filesAfter;
};

class DriveE2eTest : public ::testing::Test {
protected:
    // A drive as each case finds it.
    void prepare() {
        std::filesystem::remove_all(directory / "the storage");
        writeFile(directory / "the storage/1-4.1/ADDIN.g3a", "add-in");
        writeFile(directory / "the storage/1-4.1/NOTES/TODO.TXT", "todo");
        writeFile(directory / "the storage/1-4.1/@MainMem/MEMO.g3m", "memo");
        writeFile(directory / "the storage/1-4.1/.Trash-1000/info", "litter");
        writeFile(directory / "HELLO.TXT", "hello");
        writeFile(directory / "addin.G3A", "new add-in");
    }

    void check(const Case& test) {
        prepare();
        std::vector<std::string> options = {"--drive", "--storage", "the storage"};
        options.insert(options.end(), test.options.begin(), test.options.end());
        const std::string script = "T=" + tolvane + "; D=" + tool + "; " + test.script;
        const RunResult run = runOnCalculator(options, {"/bin/sh", "-c", script}, directory.path());
        EXPECT_EQ(run.status, test.status) << test.script << "\n" << run.err;
        EXPECT_EQ(run.out, test.out) << test.script;
        for (const std::string& part : test.errParts) {
            EXPECT_TRUE(contains(run.err, part)) << test.script << ": " << part << "\n" << run.err;
        }
        std::vector<std::string> files = filesBelow(directory / "the storage/1-4.1");
        files.erase(files.begin()); // .Trash-1000/info
        EXPECT_EQ(files, test.filesAfter) << test.script;
    }

    TemporaryDirectory directory;
};

const std::vector<std::string> asFound = {"@MainMem/MEMO.g3m", "ADDIN.g3a", "NOTES/TODO.TXT"};
const std::vector<std::string> withHello = {"@MainMem/MEMO.g3m", "ADDIN.g3a", "HELLO.TXT",
                                            "NOTES/TODO.TXT"};
const std::string listing = "6\tADDIN.g3a\n4\t@MainMem/MEMO.g3m\n4\tNOTES/TODO.TXT\n";

// Mounted for the work; after a change flushed, unmounted and powered off (the drive then
// leaves the bus), unless kept mounted; after a read, unmounted as it was found.
TEST_F(DriveE2eTest, AnUnmountedDriveIsMountedForTheWorkAndEjectedAfterAChange) {
    const std::vector<Case> cases = {
        {{}, "$T list", 0, listing, {counts(1, 1, 0), "mounted /dev/sdb1 at "}, asFound},
        {{},
         "$T devices | cut -f 5; $T list --no-eject >/dev/null; $T devices | cut -f 5,6 | "
         "sed s,/.*/,,",
         0,
         "unmounted\nmounted\t1-4.1\n",
         {counts(1, 0, 0)},
         asFound},
        {{"--whole-disk"},
         "$T send HELLO.TXT && test ! -e /dev/sdb",
         0,
         "",
         {counts(1, 1, 1), "mounted /dev/sdb at "},
         withHello},
        {{}, "$T get -o - notes/todo.txt", 0, "todo", {counts(1, 1, 0)}, asFound},
        {{}, "$T delete ADDIN.G3A", 0, "", {counts(1, 1, 1)}, {asFound[0], asFound[2]}},
        {{"--capacity", "1000"}, "$T free", 0, "980\tfls0\n", {counts(1, 1, 0)}, asFound},
        {{},
         "$T info",
         0,
         "Product: Virtual calculator drive\nSerial: VC0000000001\nFile system: vfat FAT16\n"
         "Flash: 16384 KiB\n",
         {counts(1, 1, 0)},
         asFound},
        {{},
         "$T send --no-eject -F GAMES HELLO.TXT && $T send -F GAMES HELLO.TXT",
         1,
         "",
         {counts(1, 0, 0), "HELLO.TXT: exists on the calculator; -w replaces it"},
         {asFound[0], asFound[1], "GAMES/HELLO.TXT", asFound[2]}},
        {{}, "$T optimize", 0, "", {counts(0, 0, 0), "needs no optimizing"}, asFound},
        {{}, "$T list -d crd0", 1, "", {counts(0, 0, 0), "has no SD card"}, asFound},
        // Main memory is the copy in @MainMem: read as its files, never changed.
        {{},
         "$T list -d main && $T get -d main -o - memo.g3m",
         0,
         "4\tMEMO.g3m\nmemo",
         {counts(2, 2, 0)},
         asFound},
        {{},
         "$T delete -d main MEMO.g3m",
         1,
         "",
         {counts(0, 0, 0), "whose main memory tolvane only reads"},
         asFound},
        // Just plugged in, the drive is not known to the disk service yet: it is waited for.
        {{"--known-late", "1500"}, "$T list", 0, listing, {counts(1, 1, 0)}, asFound},
        // What a killed run left staged goes with the next write to its folder, once it is
        // older than any live run could be; a fresh one may be a live run's.
        {{},
         "cd 'the storage/1-4.1' && echo x > .tolvane-OLD123 && touch -d '2 hours ago' "
         ".tolvane-OLD123 && echo y > .tolvane-NEW123 && cd ../.. && $T send HELLO.TXT",
         0,
         "",
         {counts(1, 1, 1)},
         {".tolvane-NEW123", asFound[0], asFound[1], "HELLO.TXT", asFound[2]}},
    };
    for (const Case& test : cases) {
        check(test);
    }
}

// Without the disk service, a mount in the mount table will do, and the user ejects.
TEST_F(DriveE2eTest, ADriveAlreadyMountedIsUsedWhereItIsWithOrWithoutTheDiskService) {
    const std::string noService = "there is no disk service to do it: unmount ";
    const std::vector<Case> cases = {
        {{"--mounted"}, "$T list && $T list", 0, listing + listing, {counts(0, 0, 0)}, asFound},
        {{"--mounted"}, "$T send -w HELLO.TXT", 0, "", {counts(0, 1, 1)}, withHello},
        // A file replaced keeps its name, whatever the case of the new one.
        {{"--mounted", "--no-system-bus"},
         "$T send -w addin.G3A && $T get -o - ADDIN.g3a",
         0,
         "new add-in",
         {counts(0, 0, 0), "there is no disk service to do it: unmount "},
         asFound},
        {{"--mounted", "--no-disk-service"},
         "$T send HELLO.TXT",
         0,
         "",
         {counts(0, 0, 0), noService},
         withHello},
        {{"--mounted", "--no-system-bus"}, "$T list", 0, listing, {}, asFound},
        {{"--no-system-bus"},
         "$T list",
         1,
         "",
         {"/dev/sdb1 is not mounted, and there is no disk service (UDisks2) to mount it",
          "sudo mount -o uid=$(id -u),gid=$(id -g) /dev/sdb1 /mnt"},
         asFound},
    };
    for (const Case& test : cases) {
        check(test);
    }
}

// The disk service says no, the drive is read-only, or the file does not fit: nothing is
// written, and the user is told what to do.
TEST_F(DriveE2eTest, RefusalsLeaveTheDriveAsItWas) {
    const std::vector<Case> cases = {
        {{"--refuse-mount"},
         "$T list",
         1,
         "",
         {counts(0, 0, 0), "not authorized to mount the calculator's drive /dev/sdb1",
          "machine's own session", "udisksctl mount -b /dev/sdb1"},
         asFound},
        {{"--mounted", "--refuse-eject"},
         "$T delete ADDIN.g3a",
         1,
         "",
         {counts(0, 0, 0), "not authorized to unmount"},
         {asFound[0], asFound[2]}},
        {{"--read-only"},
         "$T list && $T send HELLO.TXT",
         1,
         listing,
         {"HELLO.TXT: not sent: the calculator's drive is mounted read-only", counts(2, 2, 0)},
         asFound},
        {{"--capacity", "24"},
         "$T send HELLO.TXT",
         1,
         "",
         {"HELLO.TXT: not sent: it needs 5 bytes on the calculator's drive, which has 4 free",
          counts(1, 1, 0)},
         asFound},
        // The tool is told a size other than the file's, as if it changed since its check.
        {{},
         "$D send 1-4.1 HELLO.TXT 4",
         1,
         "",
         {"HELLO.TXT: not sent: it has changed since it was checked", counts(1, 1, 0)},
         asFound},
        {{},
         "$T send -F @mainmem HELLO.TXT",
         1,
         "",
         {"@MainMem is the calculator's main memory"},
         asFound},
    };
    for (const Case& test : cases) {
        check(test);
    }
}

// Ctrl-C while a file is staged on the drive: the temporary file goes, and nothing changed.
TEST_F(DriveE2eTest, AnInterruptedSendLeavesNothingBehind) {
    const std::string drive = "'the storage/1-4.1'";
    const std::string script =
        "mkfifo slow; $D send 1-4.1 slow 100000 & exec 3>slow; printf 'part' >&3; "
        "for i in $(seq 200); do ls -a " +
        drive +
        " | grep -q '^[.]tolvane-' && echo staged "
        "&& break; sleep 0.05; done; kill -INT $!; wait $!; echo $?; ls -a " +
        drive + " | grep tolvane";
    check({{}, script, 1, "staged\n130\n", {counts(1, 1, 0)}, asFound});
}

} // namespace
