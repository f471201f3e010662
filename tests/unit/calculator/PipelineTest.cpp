// Uploads whose parts come before the answer to the part before has been read (pipelined),
// a link that cannot take that, and the calculator's time to answer, on a clock the test
// moves by hand.

#include "Calculator.h"
#include "E2eSupport.h"
#include "Wire.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <memory>

namespace {

using namespace std::chrono_literals;
using Time = AnswerQueue::Clock::duration;

const Bytes ack = wire::acknowledgement();
const Bytes resend = wire::refusal(wire::refusedResend);
const Bytes connect = wire::frame(wire::typeCheck, wire::checkOpen);
const Bytes terminate = wire::frame(wire::typeTerminate, 0x00);
const Bytes info = wire::frame(wire::typeCommand, wire::commandInfo);
const Bytes keepAlive = wire::frame(wire::typeCheck, wire::checkKeepAlive);
const std::string content = patternBytes(600); // three parts: 256, 256 and 88 bytes
const std::string old = "old";                 // what the calculator holds before

// Replaces the file without asking unless told otherwise.
Bytes request(unsigned mode = 2) {
    return wire::frameAsHost(wire::typeCommand, wire::commandFile,
                             wire::commandData({mode, 0, 600, "", "P", "fls0"}));
}

Bytes part(unsigned number) {
    const std::string bytes = content.substr((number - 1) * 256, 256);
    return wire::frameAsHost(wire::typeData, wire::commandFile,
                             wire::partData(3, number, Bytes(bytes.begin(), bytes.end())));
}

Bytes head(const Bytes& packet) {
    return Bytes(packet.begin(), packet.begin() + 20);
}

Bytes tail(const Bytes& packet) {
    return Bytes(packet.begin() + 20, packet.end());
}

// What the host does, in order: put a transfer on the wire, read one IN transfer (nothing
// expected: none may be ready), or close the device and open it again.
struct Step {
    enum Kind { Send, Read, Reopen } kind;
    Bytes bytes;
    Time at = Time::zero(); // when, on the test's clock
};

Step send(Bytes bytes, Time at = Time::zero()) {
    return {Step::Send, std::move(bytes), at};
}
Step read(Bytes expected, Time at = Time::zero()) {
    return {Step::Read, std::move(expected), at};
}
const Step reopen{Step::Reopen, {}};

class PipelineTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(storage.prepare()); }

    void start(Calculator::Settings settings, std::vector<Fault> faults = {}) {
        settings.now = [this] { return now; };
        calculator.reset();
        report = std::make_unique<Report>(directory / "report");
        calculator =
            std::make_unique<Calculator>(storage, *report, settings, FaultPlan(std::move(faults)));
        calculator->deviceOpened();
        origin = now;
        play({send(connect), read(ack, 1s)});
        origin = now;
    }

    void play(const std::vector<Step>& steps, const std::string& name = "") {
        for (size_t i = 0; i < steps.size(); ++i) {
            const Step& step = steps[i];
            now = std::max(now, origin + step.at);
            switch (step.kind) {
            case Step::Send:
                calculator->received(step.bytes);
                break;
            case Step::Read: {
                calculator->inTransferStarted();
                const std::optional<Bytes> answer = calculator->nextAnswer(4096);
                EXPECT_EQ(answer.value_or(Bytes{}), step.bytes) << name << ", step " << i;
                break;
            }
            case Step::Reopen:
                calculator->deviceOpened();
                break;
            }
        }
    }

    std::string reportText() { return readFile(directory / "report"); }
    std::string stored() { return readFile(directory / "storage/fls0/P"); }

    TemporaryDirectory directory;
    Storage storage{directory / "storage"};
    std::unique_ptr<Report> report;
    std::unique_ptr<Calculator> calculator;
    AnswerQueue::Clock::time_point now;
    AnswerQueue::Clock::time_point origin;
};

struct Pipelining {
    const char* name;
    bool cannotPipeline;
    std::vector<Fault> faults;
    std::vector<Step> steps;
    const char* reported; // the one violation, or "" for none
    bool stored;
    const char* noted; // a note the report holds, or ""
};

TEST_F(PipelineTest, PartsSentAheadAreAnsweredInTurnOrAskedForAgain) {
    const Step accepted[] = {send(request()), read(ack)};
    auto after = [&](std::vector<Step> steps) {
        steps.insert(steps.begin(), std::begin(accepted), std::end(accepted));
        return steps;
    };
    const Step asked[] = {send(request(0)), read(wire::refusal(wire::refusedExists)),
                          send(wire::acknowledgement(wire::ackOverwrite))};
    auto afterAsking = [&](std::vector<Step> steps) {
        steps.insert(steps.begin(), std::begin(asked), std::end(asked));
        return steps;
    };
    const Pipelining cases[] = {
        {"every part ahead, answered in turn, each in its own transfer",
         false,
         {},
         after({send(part(1)), send(part(2)), send(part(3)), read(ack), read(ack), read(ack),
                read({})}),
         "",
         true,
         "2 of 3 parts of"},
        {"after confirming the overwrite",
         false,
         {},
         afterAsking({read(ack), send(part(1)), send(part(2)), read(ack), send(part(3)), read(ack),
                      read(ack)}),
         "",
         true,
         "2 of 3 parts of"},
        {"a part split over transfers, the answer before read in between",
         false,
         {},
         after({send(part(1)), send(head(part(2))), read(ack), send(tail(part(2))), send(part(3)),
                read(ack), read(ack)}),
         "",
         true,
         "1 of 3 parts of"},
        {"the first part while the request's answer is unread",
         false,
         {},
         {send(request()), send(part(1)), read(ack)},
         "still unread",
         false,
         ""},
        {"the first part while the confirmation's answer is unread",
         false,
         {},
         afterAsking({send(part(1)), read(ack)}),
         "still unread",
         false,
         ""},
        {"a keep-alive while a part's answer is unread",
         false,
         {},
         after({send(part(1)), send(keepAlive)}),
         "still unread",
         false,
         ""},
        {"a command while the last part's answer is unread",
         false,
         {},
         after({send(part(1)), send(part(2)), read(ack), send(part(3)), read(ack), send(info)}),
         "still unread",
         true,
         ""},
        {"the terminate while parts' answers are unread",
         false,
         {},
         after({send(part(1)), send(part(2)), send(terminate), read(ack), read({})}),
         "",
         false,
         "terminated after 2 of 3 parts"},
        {"a link that cannot: the answer before, then 15 01, then the part again",
         true,
         {},
         after({send(part(1)), send(part(2)), read(ack), read(resend), send(part(2)), read(ack),
                send(part(3)), read(ack)}),
         "",
         true,
         "part 2 came pipelined, which this link cannot take: asked for it again (15 01), "
         "not taken"},
        {"a link that cannot: the host starts over on a fresh link",
         true,
         {},
         after({send(part(1)), send(part(2)), read(ack), send(part(3)), read(resend), read(resend),
                send(terminate), read(ack), reopen, send(connect), read(ack), send(request()),
                read(ack), send(part(1)), read(ack), send(part(2)), read(ack), send(part(3)),
                read(ack)}),
         "",
         true,
         "terminated after 1 of 3 parts"},
        {"parts behind one refused with 15 01 are asked for again",
         false,
         {*parseFault("--resend", "part:2")},
         after({send(part(1)), send(part(2)), send(part(3)), read(ack), read(resend), read(resend),
                send(part(2)), send(part(3)), read(ack), read(ack)}),
         "",
         true,
         "part 3 came pipelined behind a part that was not taken"},
    };
    for (const Pipelining& pipelining : cases) {
        writeFile(directory / "storage/fls0/P", old);
        Calculator::Settings settings;
        settings.cannotPipeline = pipelining.cannotPipeline;
        start(settings, pipelining.faults);
        play(pipelining.steps, pipelining.name);
        calculator->hostGone();

        const std::string text = reportText();
        const std::vector<std::string> lines = violationsIn(text);
        if (std::string(pipelining.reported).empty()) {
            EXPECT_TRUE(lines.empty()) << pipelining.name << "\n" << text;
        } else {
            ASSERT_EQ(lines.size(), 1u) << pipelining.name << "\n" << text;
            EXPECT_TRUE(contains(lines[0], pipelining.reported)) << lines[0];
        }
        EXPECT_EQ(stored(), pipelining.stored ? content : old) << pipelining.name;
        EXPECT_TRUE(contains(text, pipelining.noted)) << pipelining.name << "\n" << text;
    }
}

struct Timing {
    const char* name;
    std::vector<Step> steps; // each read at its time, and a microsecond before it
};

// 30 ms when the calculator was idle, 3 ms for a part already waiting, 100 ms more for an
// optimize. A read whose answer should only just be ready is tried a microsecond early
// first, and must find nothing.
TEST_F(PipelineTest, AnswersAreReadyOnlyAfterTheirTurnaround) {
    auto readyAt = [](Time at) { return std::vector<Step>{read({}, at - 1us), read(ack, at)}; };
    auto join = [](std::vector<std::vector<Step>> pieces) {
        std::vector<Step> steps;
        for (const std::vector<Step>& piece : pieces) {
            steps.insert(steps.end(), piece.begin(), piece.end());
        }
        return steps;
    };
    const Bytes optimize = wire::frameAsHost(wire::typeCommand, wire::commandOptimize,
                                             wire::commandData({0, 0, 0, "", "", "fls0"}));
    const Timing cases[] = {
        {"a waiting part is started on once the answer before is read",
         join({{send(request())},
               readyAt(30ms),
               {send(part(1), 30ms), send(part(2), 31ms)},
               readyAt(60ms),
               {send(part(3), 60ms)},
               readyAt(63ms),
               readyAt(66ms)})},
        {"read late, the next answer still takes its turnaround after the read",
         join({{send(request())},
               readyAt(30ms),
               {send(part(1), 30ms), send(part(2), 31ms), read(ack, 100ms)},
               readyAt(103ms)})},
        {"a part sent after the answer before was read is idle work again",
         join({{send(request())},
               readyAt(30ms),
               {send(part(1), 30ms), send(part(2), 31ms)},
               readyAt(60ms),
               readyAt(63ms),
               {send(part(3), 70ms)},
               readyAt(100ms)})},
        {"an optimize takes its time after the turnaround",
         join({{send(optimize)}, readyAt(130ms)})},
    };
    for (const Timing& timing : cases) {
        std::filesystem::remove(directory / "storage/fls0/P");
        Calculator::Settings settings;
        settings.turnarounds = {30ms, 3ms};
        settings.optimizeDelay = 100ms;
        start(settings);
        play(timing.steps, timing.name);
        EXPECT_TRUE(violationsIn(reportText()).empty()) << timing.name << "\n" << reportText();
    }
}

} // namespace
