// The projector personality in process, on a clock the test moves: what goes out when, the
// faults, what it holds against a host, and its options.

#include "Projector.h"
#include "E2eSupport.h"
#include "Options.h"
#include "PngPicture.h"

#include <gtest/gtest.h>
#include <png.h>

namespace {

using Clock = Projector::Clock;
using screenwire::Format;
using screenwire::Kind;

class ProjectorTest : public ::testing::Test {
protected:
    void start(ProjectorPlan plan, size_t chunk = 0) {
        plan.framesPerSecond = 10;
        projector =
            std::make_unique<Projector>(plan, picture, chunk, report, [this] { return now; });
        projector->deviceOpened();
    }
    // Everything the projector has ready now, in IN transfers of `size` bytes.
    Bytes drain(size_t size = 100000) {
        Bytes bytes;
        while (std::optional<Bytes> piece = projector->nextAnswer(size)) {
            EXPECT_LE(piece->size(), size);
            bytes.insert(bytes.end(), piece->begin(), piece->end());
        }
        return bytes;
    }
    void wait() { now += std::chrono::milliseconds(100); }
    std::string reportText() { return readFile(directory / "report"); }

    TemporaryDirectory directory;
    Report report{directory / "report"};
    screenwire::Picture picture = screenwire::testPattern(Kind::Typz1);
    Bytes frame = screenwire::frame(Kind::Typz1, Format::Rc2, picture);
    Clock::time_point now{};
    std::unique_ptr<Projector> projector;
};

Bytes join(std::initializer_list<Bytes> parts) {
    Bytes bytes;
    for (const Bytes& part : parts) {
        bytes.insert(bytes.end(), part.begin(), part.end());
    }
    return bytes;
}

TEST_F(ProjectorTest, SendsOneFrameAFrameTimeAndSpoilsThoseItIsToldTo) {
    Bytes damaged = frame;
    damaged[damaged.size() / 2] ^= 0x5A;
    const Bytes stray = {0x0B, 'T', 'Y', 'P', 'Z', '1', '0'};
    struct Row {
        const char* name;
        std::function<void(ProjectorPlan&)> plan;
        std::vector<Bytes> frameTimes; // what each frame time brings, the last one included
    };
    const std::vector<Row> table = {
        {"plain", [](ProjectorPlan& plan) { plan.frames = 2; }, {frame, frame, {}}},
        {"no picture", [](ProjectorPlan& plan) { plan.frames = 0; }, {{}, {}}},
        {"stray bytes",
         [](ProjectorPlan& plan) { plan.strayBefore[2] = 7; },
         {frame, join({stray, frame})}},
        {"damaged", [](ProjectorPlan& plan) { plan.damaged.insert(1); }, {damaged, frame}},
        {"cut",
         [](ProjectorPlan& plan) { plan.cut[1] = 30; },
         {Bytes(frame.begin(), frame.begin() + 30), frame}},
        {"cut in half",
         [](ProjectorPlan& plan) { plan.cut[2] = cutKeepsHalf; },
         {frame, Bytes(frame.begin(), frame.begin() + static_cast<long>(frame.size() / 2))}},
        {"check",
         [](ProjectorPlan& plan) { plan.check = true; },
         {screenwire::check(), screenwire::check()}},
    };
    for (const Row& row : table) {
        SCOPED_TRACE(row.name);
        ProjectorPlan plan;
        row.plan(plan);
        start(plan);
        for (const Bytes& expected : row.frameTimes) {
            EXPECT_EQ(drain(), expected);
            EXPECT_EQ(drain(), Bytes{}) << "before the frame time is over";
            wait();
        }
    }
}

TEST_F(ProjectorTest, TheAnsweredCheckLetsFramesThroughInTheHostsReadSize) {
    ProjectorPlan plan;
    plan.check = true;
    start(plan, 1000);
    EXPECT_EQ(drain(3), screenwire::check());
    projector->received(Bytes{0x06, '0', '2'});
    projector->received(Bytes{'0', '0', '1', '0', 'D'});
    wait();
    EXPECT_EQ(drain(3000), frame);
    projector->hostGone();
    EXPECT_TRUE(violationsIn(reportText()).empty()) << reportText();
    EXPECT_TRUE(contains(reportText(), "sent 1 frames and 1 checks; the host answered 1 times"));
}

TEST_F(ProjectorTest, AnythingButTheAnswerToACheckSentIsAViolation) {
    const std::vector<std::pair<bool, Bytes>> table = {
        {false, screenwire::checkAnswer()},
        {true, {0x06, '0', '0', '0', '7', '0', 0x18, '0'}},
        {true, {0x06, '0', '2'}},
    };
    for (const auto& [check, sent] : table) {
        ProjectorPlan plan;
        plan.check = check;
        start(plan);
        drain();
        projector->received(sent);
        projector->hostGone();
    }
    EXPECT_EQ(violationsIn(reportText()).size(), table.size()) << reportText();
}

TEST_F(ProjectorTest, LeavesTheBusAfterItsLastFrame) {
    ProjectorPlan plan;
    plan.unplugAfter = 2;
    start(plan);
    drain();
    wait();
    EXPECT_FALSE(projector->unplugged());
    EXPECT_EQ(drain(), frame);
    EXPECT_TRUE(projector->unplugged());
    wait();
    EXPECT_EQ(drain(), Bytes{});
}

// A picture given as a PNG file: transparency is composed over black, and no file that is not
// a screen's picture gets through.
TEST(PngPictureTest, ReadsAnyPngAndRefusesWhatIsNoScreen) {
    TemporaryDirectory directory;
    const auto write = [&](const std::string& name, unsigned width, const Bytes& rgba) {
        png_image image{};
        image.version = PNG_IMAGE_VERSION;
        image.width = width;
        image.height = static_cast<unsigned>(rgba.size() / 4 / width);
        image.format = PNG_FORMAT_RGBA;
        EXPECT_NE(
            png_image_write_to_file(&image, (directory / name).c_str(), 0, rgba.data(), 0, nullptr),
            0);
        return directory / name;
    };
    const Bytes rgba = {255, 0, 0, 255, 0, 255, 0, 0, 10, 20, 30, 255, 200, 100, 50, 255};
    std::string error;
    const std::optional<screenwire::Picture> picture =
        readPngPicture(write("small.png", 2, rgba), 4096, error);
    ASSERT_TRUE(picture) << error;
    EXPECT_EQ(picture->width, 2u);
    EXPECT_EQ(picture->height, 2u);
    EXPECT_EQ(picture->rgb, (Bytes{255, 0, 0, 0, 0, 0, 10, 20, 30, 200, 100, 50}));
    EXPECT_FALSE(readPngPicture(write("wide.png", 5000, Bytes(5000 * 4)), 4096, error));
    EXPECT_TRUE(contains(error, "larger than a screen")) << error;
    writeFile(directory / "text.png", "not a picture");
    EXPECT_FALSE(readPngPicture(directory / "text.png", 4096, error));
    EXPECT_FALSE(readPngPicture(directory / "missing.png", 4096, error));
}

ParsedOptions parse(std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), "VirtualCalculator");
    arguments.insert(arguments.end(), {"--", "prog"});
    std::vector<char*> argv;
    for (std::string& argument : arguments) {
        argv.push_back(argument.data());
    }
    return parseOptions(static_cast<int>(argv.size()), argv.data());
}

TEST(ProjectorOptionsTest, ReadsThePlanAndRejectsWhatItCannotHonour) {
    const ParsedOptions parsed =
        parse({"--picture", "a.png", "--projector", "TYPZ2:1RM2", "--frame-rate", "2.5", "--frames",
               "9", "--check", "--stray", "3", "--cut", "4:100", "--damage", "5", "--unplug-after",
               "6", "--chunk", "64"});
    ASSERT_EQ(parsed.outcome, ParsedOptions::Run) << parsed.error;
    const ProjectorPlan& plan = parsed.options.projectorPlan;
    EXPECT_TRUE(parsed.options.projector);
    EXPECT_EQ(plan.kind, Kind::Typz2);
    EXPECT_EQ(plan.format, Format::Rm2);
    EXPECT_EQ(plan.picture, "a.png");
    EXPECT_EQ(plan.framesPerSecond, 2.5);
    EXPECT_EQ(plan.frames, 9u);
    EXPECT_TRUE(plan.check);
    EXPECT_EQ(plan.strayBefore, (std::map<unsigned long, size_t>{{3, defaultStrayBytes}}));
    EXPECT_EQ(plan.cut, (std::map<unsigned long, size_t>{{4, 100}}));
    EXPECT_EQ(plan.damaged, (std::set<unsigned long>{5}));
    EXPECT_EQ(plan.unplugAfter, 6u);
    EXPECT_EQ(parse({"--projector", "TYP01"}).options.projectorPlan.format, Format::Monochrome);
    for (const std::vector<std::string>& arguments :
         std::vector<std::vector<std::string>>{{"--projector", "TYP02"},
                                               {"--projector", "TYP01:1RC2"},
                                               {"--projector", "TYPZ1:1RC4"},
                                               {"--projector", "TYPZ1", "--frame-rate", "0"},
                                               {"--projector", "TYPZ1", "--damage", "0"},
                                               {"--projector", "TYPZ1", "--cut", "2:0"},
                                               {"--projector", "TYPZ1", "--storage", "dir"},
                                               {"--projector", "TYPZ1", "--stream", "log.bin"},
                                               {"--frames", "3"},
                                               {"--check"}}) {
        EXPECT_EQ(parse(arguments).outcome, ParsedOptions::Invalid) << arguments.back();
    }
}

} // namespace
