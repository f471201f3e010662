// Several calculators on one bus: what the library lists of them, which one it opens, and
// libudev's way from a drive calculator's disk up to its USB device.

#include "E2eSupport.h"

#include <gtest/gtest.h>

namespace {

const std::string tool = CALC_TOOL;

std::string linkLine(const std::string& address, int number, const std::string& busy = "") {
    const std::string digits = std::to_string(number);
    return address + "\tlink\tVirtual calculator\tVC" + std::string(10 - digits.size(), '0') +
           digits + busy;
}

class CalculatorsE2eTest : public ::testing::Test {
protected:
    // Three link calculators, each with a file of its own on its flash.
    RunResult onThree(std::vector<std::string> options, const std::string& script) {
        for (const char* file : {"1/fls0/ONE.TXT", "2/fls0/TWO.TXT", "3/fls0/THREE.TXT"}) {
            writeFile(directory / "storage/1-4." + file, "file");
        }
        options.insert(options.begin(), {"--calculators", "3", "--storage", "storage"});
        return runOnCalculator(options, {"/bin/sh", "-c", script}, directory.path());
    }

    TemporaryDirectory directory;
};

// In the order of their addresses, port by port.
TEST_F(CalculatorsE2eTest, ListsEveryCalculatorOnTheBus) {
    std::string eight;
    for (int k = 1; k <= 8; ++k) {
        eight +=
            linkLine((k < 7 ? "1-4." : "1-4.7.") + std::to_string(k < 7 ? k : k - 6), k) + "\n";
    }
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{}, linkLine("1-1", 1) + "\n"},
        {{"--no-device"}, ""},
        {{"--calculators", "2", "--drives", "1"},
         linkLine("1-4.1", 1) + "\n" + linkLine("1-4.2", 2) +
             "\n1-4.3\tdrive\tVirtual calculator drive\tVC0000000003\n"},
        {{"--calculators", "8"}, eight},
        {{"--calculators", "2", "--at", "1-4.1", "--serial", "", "--at", "1-4.2", "--serial",
          "A\tB", "--held"},
         "1-4.1\tlink\tVirtual calculator\t\n1-4.2\tlink\tVirtual calculator\tA?B\tbusy\n"},
    };
    for (const auto& [options, out] : cases) {
        const RunResult run = runOnCalculator(options, {tool, "list"}, directory.path());
        EXPECT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(run.out, out);
    }
}

// A program holding the calculator makes it busy to a listing and refuses another's claim,
// as the kernel does; once that program is gone, nobody holds it.
TEST_F(CalculatorsE2eTest, ACalculatorHeldByAnotherProgramIsBusy) {
    const std::string script =
        "mkfifo held; " RAW_HOST " in-pending:64 > held & read line < held; " + tool + " list; " +
        tool + " open 1-4.1; " RAW_HOST " in:64; kill $!; wait $!; " +
        // The emulator learns of the holder's end a moment later: seconds on a loaded machine.
        "for i in $(seq 300); do " + tool + " list | grep -q busy || break; sleep 0.1; done; " +
        tool + " list";
    const RunResult run =
        runOnCalculator({"--calculators", "1"}, {"/bin/sh", "-c", script}, directory.path());
    EXPECT_EQ(run.out, linkLine("1-4.1", 1, "\tbusy") + "\nbusy 1-4.1\nno device\n" +
                           linkLine("1-4.1", 1) + "\n");
    EXPECT_TRUE(violationsIn(run.err).empty()) << run.err;
}

// The serial comes from sysfs to choose, and from the device itself once opened. Each
// calculator counts the transfers made to it, under its own name.
TEST_F(CalculatorsE2eTest, OpensTheChosenOneByAddressOrSerial) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"1-4.3", "opened 1-4.3\nserial X\nfile THREE.TXT\n"},
        {"VC0000000002", "opened 1-4.2\nserial VC0000000002\nfile TWO.TXT\n"},
        {"X", "ambiguous -\n"}};
    for (const auto& [chosen, out] : cases) {
        const RunResult run = onThree({"--count-transfers", "--at", "1-4.1", "--serial", "X",
                                       "--at", "1-4.3", "--serial", "X"},
                                      tool + " open " + chosen);
        EXPECT_EQ(run.out, out) << run.err;
        EXPECT_TRUE(contains(run.err, "VirtualCalculator: 1-4.1: the host made 0 OUT and 0 IN"));
        EXPECT_EQ(contains(run.err, "made 0 OUT and 0 IN transfers to all calculators"),
                  chosen == "X")
            << run.err;
    }
}

TEST_F(CalculatorsE2eTest, AFaultAfterAtStrikesThatCalculatorAlone) {
    const RunResult run =
        onThree({"--at", "1-4.2", "--refuse", "command:4D:05"},
                tool + " open 1-4.1; " + tool + " open 1-4.2; " + tool + " open 1-4.3");
    EXPECT_EQ(run.out, "opened 1-4.1\nserial VC0000000001\nfile ONE.TXT\nopened 1-4.2\nserial "
                       "VC0000000002\nopened 1-4.3\nserial VC0000000003\nfile THREE.TXT\n");
    EXPECT_EQ(count(run.err, "fault refuse at command 4D"), 1u) << run.err;
    EXPECT_TRUE(contains(run.err, "VirtualCalculator: 1-4.2: fault refuse at command 4D"));
}

// Calculators that talk, one of them plugged in late.
TEST_F(CalculatorsE2eTest, CalculatorsMayTalkAndComeLate) {
    writeFile(directory / "talk.bin", "hi");
    const RunResult run = runOnCalculator(
        {"--calculators", "2", "--stream", "talk.bin", "--at", "1-4.2", "--plug-after", "0.5"},
        {"/bin/sh", "-c", tool + " list; sleep 1; " + tool + " list; " RAW_HOST " in:64"},
        directory.path());
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, linkLine("1-4.1", 1) + "\n" + linkLine("1-4.1", 1) + "\n" +
                           linkLine("1-4.2", 2) + "\nin 6869\n");
}

TEST_F(CalculatorsE2eTest, ADriveCalculatorIsADiskThatLibudevTracesToItsUsbDevice) {
    const RunResult run = runOnCalculator(
        {"--calculators", "1", "--drives", "2", "--storage", "storage", "--at", "1-4.3",
         "--whole-disk", "--monochrome"},
        {"/bin/sh", "-c", tool + " drives; " + tool + " open 1-4.2"}, directory.path());
    EXPECT_EQ(run.status, 1) << run.err; // the link code never opens a drive
    EXPECT_EQ(run.out, "/dev/sdb1\tvfat\t1-4.2\t07cf:6102\n/dev/sdc\tvfat\t1-4.3\t07cf:6103\n"
                       "drive 1-4.2\n");
    // A drive's folder is its file system's root: no storage devices below it.
    EXPECT_TRUE(fileExists(directory / "storage/1-4.1/fls0"));
    EXPECT_TRUE(fileExists(directory / "storage/1-4.3"));
    EXPECT_FALSE(fileExists(directory / "storage/1-4.3/fls0"));
}

} // namespace
