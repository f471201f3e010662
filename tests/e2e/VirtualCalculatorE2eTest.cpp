// The virtual calculator on the real USB stack, seen from a host that puts raw bytes on
// the wire with the real libusb: transfers, timeouts, unplugging, and the exit status that
// tells a test whether the host behaved.

#include "E2eSupport.h"

#include <gtest/gtest.h>

namespace {

const std::string connect = "out:053030303730";
const std::string disconnect = "out:183030303730";
const std::string acknowledged = "in 063030303730\n";

class VirtualCalculatorE2eTest : public ::testing::Test {
protected:
    RunResult host(const std::vector<std::string>& options, const std::vector<std::string>& steps) {
        std::vector<std::string> command{RAW_HOST};
        command.insert(command.end(), steps.begin(), steps.end());
        return runOnCalculator(options, command, directory.path());
    }

    TemporaryDirectory directory;
};

TEST_F(VirtualCalculatorE2eTest, AnswersAWellBehavedHostAndKeepsItsStdout) {
    const RunResult run =
        host({"--storage", "storage"}, {"out:00", connect, "in:4096", disconnect});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "out 1\nout 6\n" + acknowledged + "out 6\n");
    EXPECT_TRUE(violationsIn(run.err).empty()) << run.err;
    EXPECT_TRUE(fileExists(directory / "storage/fls0"));
    EXPECT_FALSE(fileExists(directory / "storage/crd0")) << "the SD card is there only if made";
}

TEST_F(VirtualCalculatorE2eTest, DefaultStorageIsATemporaryDirectoryNamedOnStderr) {
    const RunResult run = runOnCalculator({}, {"/bin/true"}, directory.path());
    EXPECT_EQ(run.status, 0) << run.err;
    const std::string note = "VirtualCalculator: storage in ";
    const size_t at = run.err.find(note);
    ASSERT_NE(at, std::string::npos) << run.err;
    const size_t begin = at + note.size();
    const std::string storage = run.err.substr(begin, run.err.find('\n', begin) - begin);
    EXPECT_EQ(storage.rfind(directory.path() + "/", 0), 0u) << "TMPDIR is honoured: " << storage;
    EXPECT_TRUE(fileExists(storage + "/fls0")) << storage;
    EXPECT_FALSE(fileExists(storage + "/crd0")) << storage;
}

TEST_F(VirtualCalculatorE2eTest, EachProgramOpeningTheDeviceStartsAFreshSession) {
    const std::string session =
        std::string(RAW_HOST) + " out:00 " + connect + " in:64 " + disconnect;
    const RunResult run =
        runOnCalculator({}, {"/bin/sh", "-c", session + " && " + session}, directory.path());
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out,
              "out 1\nout 6\n" + acknowledged + "out 6\nout 1\nout 6\n" + acknowledged + "out 6\n");
}

// The first host dies waiting on an IN transfer; its transfer must not swallow the answer
// meant for the next one. It is killed once the device holds its transfer, and gone before
// the next host starts.
TEST_F(VirtualCalculatorE2eTest, AHostKilledInMidTransferLeavesNothingBehind) {
    const std::string host = RAW_HOST;
    const std::string script = "mkfifo waiting; " + host +
                               " timeout:60000 in-pending:64 > waiting & read line < waiting; "
                               "kill -KILL $!; wait $!; " +
                               host + " out:00 " + connect + " in:64";
    const RunResult run = runOnCalculator({}, {"/bin/sh", "-c", script}, directory.path());
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "out 1\nout 6\n" + acknowledged);
}

TEST_F(VirtualCalculatorE2eTest, JoinsAPacketSentInPieces) {
    const RunResult run = host({}, {"out:0530", "out:3030", "out:3730", "in:64"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "out 2\nout 2\nout 2\n" + acknowledged);
}

TEST_F(VirtualCalculatorE2eTest, ViolationsOverrideTheHostsStatus) {
    const RunResult run =
        host({"--report", "report.txt"}, {connect, "in:64", "out:053030303731", "in:64"});
    EXPECT_EQ(run.status, 90);
    EXPECT_EQ(run.out, "out 6\n" + acknowledged + "out 6\nin 153030303730\n");
    const std::vector<std::string> violations = violationsIn(readFile(directory / "report.txt"));
    ASSERT_EQ(violations.size(), 1u);
    EXPECT_NE(violations[0].find("wrong checksum"), std::string::npos);
    EXPECT_TRUE(violationsIn(run.err).empty()) << "the report file takes them";
}

TEST_F(VirtualCalculatorE2eTest, SilenceLetsTransfersTimeOutThenAnswers) {
    const RunResult run =
        host({"--silent", "connect:2"}, {"timeout:300", connect, "in:64", "in:64", "in:64"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "out 6\nin error LIBUSB_ERROR_TIMEOUT\nin error LIBUSB_ERROR_TIMEOUT\n" +
                           acknowledged);
    EXPECT_GT(run.seconds, 0.5);
}

// With transfers that would wait 40 s, a run well under that waited for none of them,
// however busy the machine.
TEST_F(VirtualCalculatorE2eTest, UnpluggedDeviceFailsEveryLaterTransfer) {
    const RunResult run =
        host({"--unplug", "connect"}, {"timeout:40000", connect, "in:64", connect});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out,
              "out 6\nin error LIBUSB_ERROR_NO_DEVICE\nout error LIBUSB_ERROR_NO_DEVICE\n");
    EXPECT_LT(run.seconds, 30) << "no transfer should wait for its timeout";
}

TEST_F(VirtualCalculatorE2eTest, StreamsAFileInChunksThenFallsSilent) {
    writeFile(directory / "stream.bin", "0123456789");
    const RunResult run = host({"--stream", "stream.bin", "--chunk", "4"},
                               {"timeout:200", "in:64", "in:3", "in:64", "in:64", "in:64"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "in 30313233\nin 343536\nin 373839\nin error LIBUSB_ERROR_TIMEOUT\n"
                       "in error LIBUSB_ERROR_TIMEOUT\n");
}

TEST_F(VirtualCalculatorE2eTest, AHostTalkingToAStreamIsAViolation) {
    writeFile(directory / "stream.bin", "x");
    const RunResult run = host({"--stream", "stream.bin"}, {connect});
    EXPECT_EQ(run.status, 90);
    EXPECT_EQ(violationsIn(run.err).size(), 1u) << run.err;
}

TEST_F(VirtualCalculatorE2eTest, EmptyBusHasNoCalculator) {
    const RunResult run = host({"--no-device"}, {connect});
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.out, "no device\n");
}

TEST_F(VirtualCalculatorE2eTest, ExitStatusTellsItsOwnFailuresAndSignals) {
    EXPECT_EQ(runOnCalculator({"--chunk", "0"}, {"/bin/true"}, directory.path()).status, 91);
    EXPECT_EQ(runOnCalculator({}, {"/no/such/program"}, directory.path()).status, 91);
    EXPECT_EQ(runOnCalculator({"--stream", "missing.bin"}, {"/bin/true"}, directory.path()).status,
              91);
    EXPECT_EQ(runOnCalculator({}, {"/bin/sh", "-c", "exit 7"}, directory.path()).status, 7);
    EXPECT_EQ(runOnCalculator({}, {"/bin/sh", "-c", "kill -KILL $$"}, directory.path()).status,
              128 + 9);

    const RunResult help = runCaptured({VIRTUAL_CALCULATOR, "--help"}, directory.path());
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.out, "");
    EXPECT_NE(help.err.find("--silent WHERE[:N]"), std::string::npos);
}

TEST_F(VirtualCalculatorE2eTest, ChildSeesTheTestbedAndKeepsItsPreloads) {
    const std::vector<std::string> command{"/bin/sh", "-c",
                                           "echo \"$LD_PRELOAD\"; test -d \"$UMOCKDEV_DIR/sys\""};
    RunResult run = runOnCalculator({"--no-device"}, command, directory.path());
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out.rfind("libumockdev-preload.so.0", 0), 0u) << run.out;

    // A sanitized VirtualCalculator must itself accept a preload ahead of its runtime.
    std::vector<std::string> preloaded{
        "/usr/bin/env",     "LD_PRELOAD=libm.so.6", "ASAN_OPTIONS=verify_asan_link_order=0",
        VIRTUAL_CALCULATOR, "--no-device",          "--"};
    preloaded.insert(preloaded.end(), command.begin(), command.end());
    run = runCaptured(preloaded, directory.path());
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "libumockdev-preload.so.0:libm.so.6\n");
}

TEST_F(VirtualCalculatorE2eTest, SanitizedChildGetsItsRuntimeFirst) {
    const RunResult run = runOnCalculator({"--no-device"}, {ASAN_PROBE}, directory.path());
    EXPECT_EQ(run.status, 0) << run.err;
    if (ASAN_PROBE_SHARED_RUNTIME) {
        EXPECT_EQ(run.out.rfind("libasan.so.", 0), 0u) << run.out;
    }
    EXPECT_NE(run.out.find("libumockdev-preload.so.0"), std::string::npos) << run.out;
}

} // namespace
