// Parts sent before the answer to the part before has been read, on the real USB stack: a
// raw host sends two parts back to back, then reads both answers.

#include "E2eSupport.h"
#include "Wire.h"

#include <cstdio>
#include <gtest/gtest.h>

namespace {

const std::string content = patternBytes(300); // two parts: 256 and 44 bytes

std::string out(const Bytes& packet) {
    std::string step = "out:";
    for (uint8_t byte : packet) {
        char pair[3];
        snprintf(pair, sizeof pair, "%02X", byte);
        step += pair;
    }
    return step;
}

std::string answered(const Bytes& packet) {
    return "in " + out(packet).substr(4) + "\n";
}

const std::string connect = out(wire::frame(wire::typeCheck, wire::checkOpen));
const std::string terminate = out(wire::frame(wire::typeTerminate, 0x00));
const std::string request = out(wire::frameAsHost(wire::typeCommand, wire::commandFile,
                                                  wire::commandData({0, 0, 300, "", "P", "fls0"})));

std::string part(unsigned number) {
    const std::string bytes = content.substr((number - 1) * 256, 256);
    return out(wire::frameAsHost(wire::typeData, wire::commandFile,
                                 wire::partData(2, number, Bytes(bytes.begin(), bytes.end()))));
}

// What the host prints for an OUT step that went through.
std::string sent(const std::string& step) {
    return "out " + std::to_string((step.size() - 4) / 2) + "\n";
}

const std::string ack = answered(wire::acknowledgement());
const std::string resend = answered(wire::refusal(wire::refusedResend));
const std::string opened = "out 1\n" + sent(connect) + ack + sent(request) + ack;

class PipelineE2eTest : public ::testing::Test {
protected:
    RunResult host(const std::vector<std::string>& options, const std::vector<std::string>& steps) {
        std::vector<std::string> all{"--storage", "storage"};
        all.insert(all.end(), options.begin(), options.end());
        std::vector<std::string> command{RAW_HOST, "out:00", connect, "in:64", request, "in:64"};
        command.insert(command.end(), steps.begin(), steps.end());
        return runOnCalculator(all, command, directory.path());
    }

    TemporaryDirectory directory;
};

// Three answers after the idle 300 ms, the pipelined part's 100 ms after the one before
// was read: at least a second, however fast the machine.
TEST_F(PipelineE2eTest, PipelinedPartsAreAnsweredInTurnAndNotBeforeTheirTime) {
    const RunResult run = host({"--idle-turnaround", "300", "--busy-turnaround", "100"},
                               {part(1), part(2), "in:64", "in:64", terminate});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, opened + sent(part(1)) + sent(part(2)) + ack + ack + sent(terminate));
    EXPECT_TRUE(violationsIn(run.err).empty()) << run.err;
    EXPECT_TRUE(contains(run.err, "VirtualCalculator: 1 of 2 parts of storage/fls0/P came "
                                  "pipelined"))
        << run.err;
    EXPECT_EQ(readFile(directory / "storage/fls0/P"), content);
    EXPECT_GE(run.seconds, 1.0);
}

// The host gives the pipelined transfer up, reads what it is owed, and starts over.
TEST_F(PipelineE2eTest, ALinkThatCannotPipelineAsksAgainAndAFreshLinkStoresTheFile) {
    const RunResult run =
        host({"--cannot-pipeline"},
             {part(1), part(2), "in:64", "in:64", terminate, "in:64", "find:10", connect, "in:64",
              request, "in:64", part(1), "in:64", part(2), "in:64", terminate, "in:64"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, opened + sent(part(1)) + sent(part(2)) + ack + resend + sent(terminate) +
                           ack + "found\n" + sent(connect) + ack + sent(request) + ack +
                           sent(part(1)) + ack + sent(part(2)) + ack + sent(terminate) + ack);
    EXPECT_TRUE(violationsIn(run.err).empty()) << run.err;
    EXPECT_TRUE(contains(run.err, "part 2 came pipelined, which this link cannot take")) << run.err;
    EXPECT_EQ(readFile(directory / "storage/fls0/P"), content);
}

} // namespace
