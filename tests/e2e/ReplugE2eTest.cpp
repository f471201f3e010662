// A calculator that arrives late, and one that is unplugged and plugged in again, seen by
// a raw host that waits for it as a following logger does: a fresh libusb context, the
// device opened again.

#include "E2eSupport.h"

#include <gtest/gtest.h>

namespace {

class ReplugE2eTest : public ::testing::Test {
protected:
    RunResult host(const std::vector<std::string>& options, const std::vector<std::string>& steps) {
        writeFile(directory / "stream.bin", "abcdefgh");
        std::vector<std::string> all{"--stream", "stream.bin", "--count-transfers"};
        all.insert(all.end(), options.begin(), options.end());
        std::vector<std::string> command{RAW_HOST};
        command.insert(command.end(), steps.begin(), steps.end());
        return runOnCalculator(all, command, directory.path());
    }

    TemporaryDirectory directory;
};

TEST_F(ReplugE2eTest, ACalculatorPluggedInLateIsFoundByLookingAgain) {
    const RunResult run = host({"--plug-after", "1"}, {"find:20", "in:64"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "found\nin 6162636465666768\n");
    EXPECT_GT(run.seconds, 0.9);
}

// Silence, then the device leaves the bus (the open handle fails, enumeration finds
// nothing), then it comes back under a new device number and the stream goes on.
TEST_F(ReplugE2eTest, AReplugEndsTheOldHandleAndANewOneReadsTheRest) {
    const RunResult run = host({"--stream-plan", "3,pause:0.5,2,unplug:1"},
                               {"timeout:5000", "in:64", "in:64", "in:64", "find:20", "in:64"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "in 616263\nin 6465\nin error LIBUSB_ERROR_NO_DEVICE\nfound\nin 666768\n");
    EXPECT_TRUE(violationsIn(run.err).empty()) << run.err;
    // The release on the unplugged handle fails, as on a real bus.
    EXPECT_TRUE(contains(run.err, "the host claimed the interface 2 times and released it 1 times"))
        << run.err;
    EXPECT_GT(run.seconds, 1.4);
}

TEST_F(ReplugE2eTest, NobodyThereWhileUnplugged) {
    const RunResult run =
        host({"--stream-plan", "8,unplug:3"}, {"in:64", "in:64", "find:0.5", "find:20", "in:64"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "in 6162636465666768\nin error LIBUSB_ERROR_NO_DEVICE\nnot found\nfound\n"
                       "in error LIBUSB_ERROR_TIMEOUT\n");
}

} // namespace
