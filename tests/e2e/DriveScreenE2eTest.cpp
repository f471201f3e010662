// A drive calculator's screen through its SCSI generic node: pictures pixel for pixel behind a
// stream spoiled as a cable spoils it, the check answered by a write, every picture of a steady
// five a second (the benchmark measures ten), and each way it ends (unplugged, silent, in its USB
// Flash mode) in bounded time.

#include "E2eSupport.h"
#include "ScreenWire.h"

#include <cinttypes>
#include <gtest/gtest.h>
#include <sstream>

namespace {

using namespace screenwire;

std::string pictureLine(Kind kind, Format format) {
    const Picture picture = shown(format, testPattern(kind));
    uint64_t digest = 14695981039346656037u;
    for (uint8_t byte : picture.rgb) {
        digest = (digest ^ byte) * 1099511628211u;
    }
    char line[64];
    snprintf(line, sizeof line, "picture %u %u %016" PRIx64 "\n", picture.width, picture.height,
             digest);
    return line;
}

TEST(DriveScreenE2eTest, PicturesComeWholeAndEveryEndingIsClear) {
    const std::string colour = pictureLine(Kind::Typz1, Format::Rc2);
    // Options after --drive; the pictures wanted (all came only with status 0) and the seconds;
    // the status, the start of the output, and a note of the report.
    const std::vector<std::tuple<std::string, std::string, int, std::string, std::string>> cases = {
        {"--projector TYPZ1 --stray 1 --damage 2 --cut 3", "2 5", 0,
         colour + colour + "end none medium absent", "frame 3 cut"},
        {"--projector TYPZ2:1RM2 --check", "1 5", 0,
         pictureLine(Kind::Typz2, Format::Rm2) + "end none", "wrote 1 times"},
        {"--projector TYPZ1 --frame-rate 5", "15 6", 0, colour,
         "frames lost while the host had not taken the one before: 0"},
        {"--projector TYPZ1 --unplug-after 2", "5 5", 1, colour + colour + "end unplugged",
         "unplugged after 2 frames"},
        {"--projector TYPZ1 --frames 0", "1 2", 1, "end none medium absent", "sent 0 frames"},
        {"--storage flash", "1 2", 1, "end notScreenMode medium present",
         "screen commands refused 1"}};
    TemporaryDirectory directory;
    for (const auto& [options, wanted, status, out, note] : cases) {
        std::istringstream words("--drive " + options);
        const RunResult run = runOnCalculator(
            {std::istream_iterator<std::string>(words), {}},
            {"/bin/sh", "-c", DRIVE_TOOL " screen 1-4.1 " + wanted}, directory.path());
        EXPECT_EQ(run.status, status) << options << "\n" << run.err;
        EXPECT_EQ(run.out.substr(0, out.size()), out) << options;
        EXPECT_TRUE(contains(run.err, note) && violationsIn(run.err).empty() &&
                    !sanitizerReported(run) && run.seconds < 15)
            << options << run.err;
    }
}

} // namespace
