// The projector personality in process, on a clock the test moves: what goes out at each
// frame time, faults included, what it holds against a host, and the options it takes.

#include "Projector.h"
#include "E2eSupport.h"
#include "Options.h"

#include <gtest/gtest.h>
#include <iterator>
#include <sstream>

namespace {

using screenwire::Format;
using screenwire::Kind;

class ProjectorTest : public ::testing::Test {
protected:
    void start(ProjectorPlan plan) {
        plan.framesPerSecond = 10;
        projector = std::make_unique<Projector>(plan, picture, 99, report, [this] { return now; });
        projector->deviceOpened();
    }
    // Everything the projector has ready now, then the clock moved on by a frame time.
    Bytes frameTime() {
        Bytes bytes;
        while (std::optional<Bytes> piece = projector->nextAnswer(100000)) {
            bytes.insert(bytes.end(), piece->begin(), piece->end());
        }
        now += std::chrono::milliseconds(100);
        return bytes;
    }

    TemporaryDirectory directory;
    Report report{directory / "report"};
    screenwire::Picture picture = screenwire::testPattern(Kind::Typz1);
    Bytes frame = screenwire::frame(Kind::Typz1, Format::Rc2, picture);
    Projector::Clock::time_point now{};
    std::unique_ptr<Projector> projector;
};

// After the first frame time the host sends what the row says (in two pieces): it may answer
// each check it read; anything else is a violation.
TEST_F(ProjectorTest, SendsAFrameEachFrameTimeSpoiledAsPlannedAndTakesOnlyTheAnswer) {
    Bytes damaged = frame;
    damaged[damaged.size() / 2] ^= 0x5A;
    Bytes stray = {0x0B, 'T', 'Y', 'P', 'Z', '1', '0'};
    stray.insert(stray.end(), frame.begin(), frame.end());
    const Bytes cut30(frame.begin(), frame.begin() + 30);
    const Bytes half(frame.begin(), frame.begin() + static_cast<long>(frame.size() / 2));
    const Bytes check = screenwire::check(), answer = screenwire::checkAnswer();
    using P = ProjectorPlan;
    const auto checking = [](P& p) { p.check = true; };
    const std::vector<
        std::tuple<const char*, std::function<void(P&)>, std::vector<Bytes>, Bytes, int>>
        table = {
            {"plain", [](P& p) { p.frames = 2; }, {frame, frame, {}}, {}, 0},
            {"no picture", [](P& p) { p.frames = 0; }, {{}, {}}, {}, 0},
            {"stray bytes", [](P& p) { p.strayBefore[2] = 7; }, {frame, stray}, {}, 0},
            {"damaged", [](P& p) { p.damaged.insert(1); }, {damaged, frame}, {}, 0},
            {"cut", [](P& p) { p.cut[1] = 30; }, {cut30, frame}, {}, 0},
            {"cut in half", [](P& p) { p.cut[2] = cutKeepsHalf; }, {frame, half}, {}, 0},
            {"unplugged", [](P& p) { p.unplugAfter = 2; }, {frame, frame, {}}, {}, 0},
            {"check answered", checking, {check, frame}, answer, 0},
            {"check unanswered", checking, {check, check}, {}, 0},
            {"answer unasked", [](P&) {}, {frame, frame}, answer, 1},
            {"other bytes", checking, {check, check}, {0x06, '0', '0', '0', '7', '0', 0x18}, 1},
            {"half an answer", checking, {check, check}, {0x06, '0', '2'}, 1},
        };
    for (const auto& [name, change, frameTimes, sent, violations] : table) {
        SCOPED_TRACE(name);
        ProjectorPlan plan;
        change(plan);
        start(plan);
        const int before = report.violations();
        for (size_t time = 0; time < frameTimes.size(); ++time) {
            EXPECT_EQ(frameTime(), frameTimes[time]) << "frame time " << time;
            if (time == 0) {
                projector->received(Bytes(sent.begin(), sent.begin() + sent.size() / 2));
                projector->received(Bytes(sent.begin() + sent.size() / 2, sent.end()));
            }
        }
        projector->hostGone();
        EXPECT_EQ(report.violations() - before, violations);
        EXPECT_EQ(projector->unplugged(), plan.unplugAfter > 0);
    }
    const std::string notes = readFile(directory / "report");
    EXPECT_TRUE(contains(notes, "sent 1 frames and 1 checks; the host answered 1 times")) << notes;
}

TEST(ProjectorOptionsTest, TakesThePlanAndRefusesWhatItCannotHonour) {
    const char* const valid = "--picture a.png --projector TYPZ2:1RM2 --frame-rate 2.5 --frames 9 "
                              "--check --stray 3 --cut 4:9 --damage 5 --unplug-after 6 --chunk 64";
    for (const char* arguments :
         {valid, "--projector TYP02", "--projector TYP01:1RC2", "--projector TYPZ1:1RC4",
          "--projector TYPZ1 --frame-rate 0", "--projector TYPZ1 --damage 0",
          "--projector TYPZ1 --cut 2:0", "--projector TYPZ1 --storage d", "--frames 3"}) {
        std::istringstream words("VirtualCalculator " + std::string(arguments) + " -- prog");
        std::vector<std::string> split{std::istream_iterator<std::string>(words), {}};
        std::vector<char*> argv;
        for (std::string& word : split) {
            argv.push_back(word.data());
        }
        const ParsedOptions parsed = parseOptions(static_cast<int>(argv.size()), argv.data());
        EXPECT_EQ(parsed.outcome, arguments == valid ? ParsedOptions::Run : ParsedOptions::Invalid)
            << arguments;
    }
}

} // namespace
