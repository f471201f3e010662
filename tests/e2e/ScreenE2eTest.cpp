// tolvane screen against the virtual projector: pixel for pixel, and only the check answered.

#include "E2eSupport.h"
#include "PngWriter.h"
#include "ScreenWire.h"
#include "Y4mWriter.h"

#include <cstdio>
#include <gtest/gtest.h>
#include <png.h>
#include <sstream>
#include <tuple>

namespace {

using namespace screenwire;

const std::string tolvane = TOLVANE;

Picture readPng(const std::string& bytes) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    png_image_begin_read_from_memory(&image, bytes.data(), bytes.size());
    image.format = PNG_FORMAT_RGB;
    Picture picture{image.width, image.height, Bytes(PNG_IMAGE_SIZE(image))};
    png_image_finish_read(&image, nullptr, picture.rgb.data(), 0, nullptr);
    return picture;
}

// As the picture (`png`) or the video writer makes it, which their own tests check.
std::string written(const Picture& picture, int scale, bool png, const std::string& path) {
    FILE* file = fopen(path.c_str(), "w");
    const CasioScreenPicture view{int(picture.width), int(picture.height), picture.rgb.data()};
    png ? PngWriter::write(file, view, scale)
        : Y4mWriter(file, view.width, view.height, scale, 30).writeFrame(view);
    fclose(file);
    const std::string bytes = readFile(path);
    std::remove(path.c_str());
    return bytes;
}

class ScreenE2eTest : public ::testing::Test {
protected:
    // A shell script with "$T" for tolvane, under the projector with these options, on a link
    // calculator or on a drive calculator in its screen mode; nothing is to be sent but the
    // check's answer, once, when there is a check.
    RunResult run(const std::string& script, const std::string& projector, bool drive = false) {
        std::istringstream words((drive ? "--drive --projector " : "--projector ") + projector +
                                 " --count-transfers");
        const std::vector<std::string> options{std::istream_iterator<std::string>(words), {}};
        RunResult result = runOnCalculator(
            options, {"/bin/sh", "-c", "T=" + tolvane + "; " + script}, directory.path());
        const bool checked = contains(projector, "--check");
        const char* sent = drive ? (checked ? "wrote 1 times" : "wrote 0 times")
                                 : (checked ? "made 1 OUT" : "made 0 OUT");
        EXPECT_TRUE(contains(result.err, sent)) << result.err;
        EXPECT_TRUE(violationsIn(result.err).empty() && !sanitizerReported(result)) << result.err;
        return result;
    }
    std::string local(const std::string& name) { return readFile(directory / name); }

    TemporaryDirectory directory;
};

TEST_F(ScreenE2eTest, APictureArrivesPixelForPixelWhereverItGoes) {
    const std::string bytes = patternBytes(100 * 60 * 3); // every colour, and no screen's size
    const Picture slide{100, 60, Bytes(bytes.begin(), bytes.end())};
    writeFile(directory / "slide.png", written(slide, 1, true, directory / "s"));
    const std::tuple<std::string, std::string, Format, unsigned> cases[] = {
        {"TYP01", "$T screen -o shot.png", Format::Monochrome, 1},
        {"TYPZ1 --check --stray 1 --damage 2 --cut 3", "$T screen -o - > shot.png", Format::Rc2, 1},
        {"TYPZ2:1RC3", "echo mine > shot.png; $T screen --scale 3 -wo shot.png", Format::Rc3, 3},
        {"TYPZ1:1RM2 --picture slide.png", "$T screen --scale=8 -o shot.png", Format::Rm2, 8},
    };
    // A drive calculator sends colour frames only, inside its vendor commands.
    for (const bool drive : {false, true}) {
        for (const auto& [projector, script, format, scale] : cases) {
            if (drive && format == Format::Monochrome) {
                continue;
            }
            EXPECT_EQ(run(script, projector, drive).status, 0) << script;
            const Picture sent = contains(projector, "slide")
                                     ? slide
                                     : testPattern(*kindNamed(projector.substr(0, 5)));
            const std::string wanted =
                written(shown(format, sent), scale, true, directory / "want");
            EXPECT_TRUE(readPng(local("shot.png")) == readPng(wanted)) << script << drive;
            EXPECT_EQ(filesBelow(directory.path()).size(), 2u) << "a temporary file left behind";
            std::remove((directory / "shot.png").c_str());
        }
    }
}

// A fresh name that says when, printed; then the same in a folder where that name is taken.
TEST_F(ScreenE2eTest, WithoutAPathThePictureTakesAFreshName) {
    const std::string pattern =
        written(shown(Format::Rc2, testPattern(Kind::Typz1)), 1, true, directory / "p");
    RunResult result = run("$T screen", "TYPZ1");
    char date[9] = "", clock[7] = "";
    sscanf(result.out.c_str(), "screen-%8[0-9]-%6[0-9]", date, clock);
    const std::string stem = std::string("screen-") + date + "-" + clock;
    ASSERT_TRUE(stem.size() == 22 && result.out == stem + ".png\n") << result.out << result.err;
    EXPECT_TRUE(local(stem + ".png") == pattern);
    for (time_t when = time(nullptr) - 2; when < time(nullptr) + 30; ++when) {
        char stamp[32];
        strftime(stamp, sizeof stamp, "in/screen-%Y%m%d-%H%M%S.png", localtime(&when));
        writeFile(directory / stamp, "taken");
    }
    result = run("$T screen -o in", "TYPZ1");
    sscanf(result.out.c_str(), "in/screen-%8[0-9]-%6[0-9]", date, clock);
    const std::string taken = std::string("in/screen-") + date + "-" + clock;
    ASSERT_TRUE(taken.size() == 25 && result.out == taken + "-2.png\n") << result.out;
    EXPECT_TRUE(local(taken + ".png") == "taken" && local(taken + "-2.png") == pattern);
}

// Usage errors reach no calculator; neither video nor a picture goes to a terminal.
TEST_F(ScreenE2eTest, WhatCannotBeDoneIsAUsageError) {
    const std::pair<std::string, std::string> cases[] = {
        {"--scale 0", "--scale takes a whole number from 1 to 8"},
        {"--scale 9", "--scale takes"},
        {"--scale 2x", "--scale takes"},
        {"-o ''", "-o needs a path"},
        {"--stream -o video.y4m", "-o PATH is for a picture"},
        {"--stream",
         "pipe the video to a player or an encoder, e.g. tolvane screen --stream | mpv"},
        {"-o -", "redirect the picture to a file"},
    };
    for (const auto& [arguments, problem] : cases) {
        const RunResult result =
            runOnTerminal({"/bin/sh", "-c", tolvane + " screen " + arguments}, directory.path());
        EXPECT_TRUE(result.status == 2 && contains(result.out, problem)) << arguments << result.out;
    }
}

// 30 frames a second, however seldom pictures come, and whole frames whatever ends it; ten
// seconds without a picture say what came instead. No file is left behind or replaced.
// The drive rows: the same endings on a drive calculator's screen; and one in its USB Flash
// mode, which offers no screen.
const std::tuple<bool, std::string, std::string, int, std::string, size_t> videoCases[] = {
    {false, "TYPZ1 --frame-rate 2",
     "$T screen --stream --scale 2 > video & sleep 3; kill -INT $!; wait $!", 0, "", 45},
    {true, "TYPZ1 --frame-rate 2",
     "$T screen --stream --scale 2 > video & sleep 3; kill -INT $!; wait $!", 0, "", 45},
    {false, "TYPZ1 --unplug-after 4", "$T screen --stream --scale 2 > video", 1,
     "can't be read any more", 1},
    {true, "TYPZ1 --unplug-after 4", "$T screen --stream --scale 2 > video", 1,
     "can't be read any more", 1},
    {false, "TYPZ1", "{ $T screen --stream; echo $? > s; } | head -c 9; (exit $(cat s))", 0, "", 0},
    {true, "TYPZ1", "{ $T screen --stream; echo $? > s; } | head -c 9; (exit $(cat s))", 0, "", 0},
    {false, "TYPZ1 --frames 0", "$T screen -o shot.png", 1, "came in 10 seconds: put the calc", 0},
    {true, "TYPZ1 --frames 0", "$T screen -o shot.png", 1,
     "came in 10 seconds: put the calculator in its ScreenRecv or Projector mode", 0},
    {false, "TYP01 --frames 1 --damage 1", "$T screen --stream > video", 1, "Only damaged", 0},
    {false, "TYP01", "echo mine > mine.png; $T screen -o mine.png", 1, "mine.png: exists; -w", 0},
};

class VideoE2eTest : public ScreenE2eTest, public ::testing::WithParamInterface<size_t> {};

TEST_P(VideoE2eTest, KeepsItsPaceAndEndsCleanly) {
    const std::string one =
        written(shown(Format::Rc2, testPattern(Kind::Typz1)), 2, false, directory / "one");
    const std::string header = one.substr(0, one.find('\n') + 1), frame = one.substr(header.size());
    const auto& [drive, projector, script, status, message, fewestFrames] = videoCases[GetParam()];
    std::remove((directory / "video").c_str());
    const RunResult result = run(script + "; echo $?", projector, drive);
    EXPECT_TRUE(endsWith(result.out, std::to_string(status) + "\n")) << script;
    EXPECT_EQ(count(result.err, "[ERROR]"), message.empty() ? 0u : 1u) << result.err;
    EXPECT_TRUE(contains(result.err, message) && !fileExists(directory / "shot.png")) << result.err;
    const std::string video = local("video");
    ASSERT_EQ(video.substr(0, header.size()), header.substr(0, video.size()));
    size_t frames = 0;
    for (size_t at = header.size(); at < video.size(); at += frame.size(), ++frames) {
        ASSERT_TRUE(video.compare(at, frame.size(), frame) == 0) << "frame " << frames;
    }
    EXPECT_GE(frames, fewestFrames) << script;
}

INSTANTIATE_TEST_SUITE_P(EveryEnding, VideoE2eTest,
                         ::testing::Range<size_t>(0, std::size(videoCases)));

TEST_F(ScreenE2eTest, ADriveInItsUsbFlashModeSaysWhichModeToChoose) {
    const RunResult flash =
        runOnCalculator({"--drive"}, {tolvane, "screen", "-o", "shot.png"}, directory.path());
    EXPECT_EQ(flash.status, 1);
    EXPECT_TRUE(contains(flash.err, "in its USB Flash mode; choose ScreenRecv or Projector"))
        << flash.err;
}

} // namespace
