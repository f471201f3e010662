// A drive calculator's screen through its SCSI generic node: pictures pixel for pixel behind a
// stream spoiled as a cable spoils it, the check answered by a write, every picture of a steady
// ten a second, and each way it ends (unplugged, silent, in its USB Flash mode) in bounded time.

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

struct Case {
    std::string options; // for the virtual calculator after --drive
    std::string wanted;  // pictures, seconds
    int status;
    std::string out;                   // the pictures' lines, then the start of the last
    std::vector<std::string> errParts; // in the report
};

TEST(DriveScreenE2eTest, PicturesComeWholeAndEveryEndingIsClear) {
    const std::string colour = pictureLine(Kind::Typz1, Format::Rc2);
    std::string thirty;
    for (int i = 0; i < 30; ++i) {
        thirty += colour;
    }
    const std::vector<Case> cases = {
        {"--projector TYPZ1 --stray 1 --damage 2 --cut 3",
         "2 5",
         0,
         colour + colour + "end none medium absent",
         {"frame 3 cut", "sent 4 frames"}},
        {"--projector TYPZ2:1RM2 --check",
         "1 5",
         0,
         pictureLine(Kind::Typz2, Format::Rm2) + "end none medium absent",
         {"the host answered 1 times", "wrote 1 times"}},
        {"--projector TYPZ1 --frame-rate 10", "30 6", 0, thirty + "end none", {"sent 30 frames"}},
        {"--projector TYPZ1 --unplug-after 2",
         "5 5",
         1,
         colour + colour + "end unplugged",
         {"unplugged after 2 frames"}},
        {"--projector TYPZ1 --frames 0", "1 2", 1, "end none medium absent", {"sent 0 frames"}},
        {"--storage flash",
         "1 2",
         1,
         "end notScreenMode medium present",
         {"screen commands refused 1"}},
    };
    TemporaryDirectory directory;
    for (const Case& test : cases) {
        std::istringstream words("--drive " + test.options);
        const std::vector<std::string> options{std::istream_iterator<std::string>(words), {}};
        const RunResult run =
            runOnCalculator(options, {"/bin/sh", "-c", DRIVE_SCREEN_TOOL " 1-4.1 " + test.wanted},
                            directory.path());
        EXPECT_EQ(run.status, test.status) << test.options << "\n" << run.err;
        EXPECT_EQ(run.out.substr(0, test.out.size()), test.out) << test.options;
        for (const std::string& part : test.errParts) {
            EXPECT_TRUE(contains(run.err, part)) << test.options << ": " << part << "\n" << run.err;
        }
        EXPECT_TRUE(violationsIn(run.err).empty() && !sanitizerReported(run)) << run.err;
        EXPECT_LT(run.seconds, 8) << test.options;
    }
}

} // namespace
