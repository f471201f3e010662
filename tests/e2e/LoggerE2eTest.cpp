// TolvaneLogger, the very binary a user runs, against the virtual calculator.

#include "E2eSupport.h"

#include <csignal>
#include <gtest/gtest.h>

namespace {

const std::string connected = "[INFO]: Socket connected !\n";
const std::string receiveFailed = "[ERROR]: Failed to receive the log !\n";

class LoggerE2eTest : public ::testing::TestWithParam<int> {
protected:
    RunResult logStream(const std::string& stream, const std::vector<std::string>& options) {
        writeFile(directory / "stream.bin", stream);
        std::vector<std::string> all{"--stream", "stream.bin"};
        all.insert(all.end(), options.begin(), options.end());
        return runOnCalculator(all, {TOLVANE_LOGGER}, directory.path());
    }

    TemporaryDirectory directory;
};

// The bytes come out unchanged, between the connection's log lines and the failed receive
// that ends the logger when the calculator falls silent.
TEST_P(LoggerE2eTest, CopiesTheStreamToStdoutUnchanged) {
    const std::string stream = "line one\n" + std::string(1, '\0') + "\r\n" + patternBytes(300) +
                               "\n\n" + std::string(3, '\0');
    const RunResult run = logStream(stream, {"--chunk", std::to_string(GetParam())});

    EXPECT_EQ(run.status, 1) << run.err;
    EXPECT_TRUE(violationsIn(run.err).empty()) << run.err;
    const size_t begin = run.out.find(connected);
    ASSERT_NE(begin, std::string::npos) << run.out;
    const std::string after = run.out.substr(begin + connected.size());
    ASSERT_GE(after.size(), stream.size());
    EXPECT_EQ(after.substr(0, stream.size()), stream);
    EXPECT_EQ(after.compare(stream.size(), 8, "[ERROR]:"), 0) << after.substr(stream.size());
    EXPECT_TRUE(endsWith(run.out, receiveFailed));
    EXPECT_EQ(count(run.out, receiveFailed), 1u);
}

INSTANTIATE_TEST_SUITE_P(Chunks, LoggerE2eTest, ::testing::Values(64, 5),
                         [](const auto& info) { return "Of" + std::to_string(info.param); });

TEST_F(LoggerE2eTest, SilentCalculatorEndsTheLogAfterOneTimeout) {
    const RunResult run = logStream("", {});
    EXPECT_EQ(run.status, 1) << run.err;
    EXPECT_TRUE(violationsIn(run.err).empty()) << run.err;
    const size_t begin = run.out.find(connected);
    ASSERT_NE(begin, std::string::npos) << run.out;
    EXPECT_EQ(run.out.compare(begin + connected.size(), 8, "[ERROR]:"), 0) << run.out;
    EXPECT_TRUE(endsWith(run.out, receiveFailed)) << run.out;
    EXPECT_GT(run.seconds, 1.9);
}

// Stopped by a signal while it waits for more, with its output going to a pipe: what
// arrived before is already out, not lost in the output buffer.
TEST_F(LoggerE2eTest, BytesReceivedSurviveAnInterrupt) {
    const std::string stream = "add-in says hello\n";
    writeFile(directory / "stream.bin", stream);
    const RunResult run = runCaptured(
        {VIRTUAL_CALCULATOR, "--stream", "stream.bin", "--", TOLVANE_LOGGER}, directory.path(), 1);
    EXPECT_TRUE(run.timedOut);
    EXPECT_EQ(run.status, 128 + SIGTERM) << run.err;
    const size_t begin = run.out.find(connected);
    ASSERT_NE(begin, std::string::npos) << run.out;
    EXPECT_EQ(run.out.substr(begin + connected.size()), stream);
}

TEST(LoggerWithoutCalculatorE2eTest, CannotConnect) {
    TemporaryDirectory directory;
    const RunResult run = runOnCalculator({"--no-device"}, {TOLVANE_LOGGER}, directory.path());
    EXPECT_EQ(run.status, 1) << run.err;
    EXPECT_TRUE(endsWith(run.out, "[ERROR]: Can't connect to the calc !\n")) << run.out;
    EXPECT_EQ(run.out.find(connected), std::string::npos);
}

} // namespace
