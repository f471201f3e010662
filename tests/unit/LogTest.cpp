#include "Log.h"
#include "Buffer.h"
#include "StdoutCapture.h"
#include "TolvaneVersion.h"

#include <climits>
#include <gtest/gtest.h>

namespace {

std::string logAllAt(int level) {
    Log::setLoglevel(level);
    StdoutCapture capture;
    Log::debug("d");
    Log::info("i");
    Log::warning("w");
    Log::error("e");
    return capture.finish();
}

TEST(Log, EachLevelAdmitsItsMessagesAndTheMoreSevere) {
    EXPECT_EQ(logAllAt(-1), "");
    EXPECT_EQ(logAllAt(0), "[ERROR]: e\n");
    EXPECT_EQ(logAllAt(1), "[WARNING]: w\n[ERROR]: e\n");
    EXPECT_EQ(logAllAt(2), "[INFO]: i\n[WARNING]: w\n[ERROR]: e\n");
    EXPECT_EQ(logAllAt(3), "[DEBUG]: d\n[INFO]: i\n[WARNING]: w\n[ERROR]: e\n");
    const std::string atSeven = logAllAt(7);
    EXPECT_EQ(Log::getLoglevel(), 7);
    EXPECT_EQ(atSeven, logAllAt(3));
}

TEST(Log, MessageIsNeverUsedAsAFormat) {
    Log::setLoglevel(LOGLEVEL_ERROR);
    StdoutCapture capture;
    Log::error("100% %s %d");
    EXPECT_EQ(capture.finish(), "[ERROR]: 100% %s %d\n");
}

// A program may send every line elsewhere, and print the direct lines only from a level on.
TEST(Log, TheStreamAndTheLevelOfDetailLinesAreSettings) {
    FILE* elsewhere = tmpfile();
    ASSERT_NE(elsewhere, nullptr);
    Log::setOutput(elsewhere);
    Log::setLoglevel(-1);
    Log::direct("%d vs %d\n", 1, 2); // whatever the level, by default
    Log::setLoglevel(LOGLEVEL_WARNING);
    Log::detailError("a transfer failed");
    Log::setDetailLevel(LOGLEVEL_DEBUG);
    StdoutCapture capture;
    Log::warning("w");
    Log::direct("hidden %d\n", 3);
    Log::detailError("hidden transfer");
    Log::setLoglevel(LOGLEVEL_DEBUG);
    Log::direct("shown %d\n", 4);
    Log::detailError("shown transfer");
    Log::setOutput(stdout);
    Log::setDetailLevel(INT_MIN);
    EXPECT_EQ(capture.finish(), "");

    char written[128] = {};
    rewind(elsewhere);
    const size_t length = fread(written, 1, sizeof written - 1, elsewhere);
    fclose(elsewhere);
    EXPECT_EQ(std::string(written, length), "1 vs 2\n[ERROR]: a transfer failed\n[WARNING]: w\n"
                                            "shown 4\n[ERROR]: shown transfer\n");
}

TEST(TolvaneVersion, BannerIsPrintedWhateverTheLevel) {
    Log::setLoglevel(-1);
    StdoutCapture capture;
    TolvaneVersion::printVersion();
    EXPECT_EQ(capture.finish(), "libtolvane [09 april 2016] V0.0.1\n");
}

TEST(Buffer, ReportsItsViewUntilReset) {
    unsigned char storage[2048];
    Buffer buffer(storage, sizeof storage);
    EXPECT_EQ(buffer.getData(), storage);
    EXPECT_EQ(buffer.getSize(), 2048);
    buffer.setData(storage + 8);
    buffer.setSize(12);
    EXPECT_EQ(buffer.getData(), storage + 8);
    EXPECT_EQ(buffer.getSize(), 12);
}

} // namespace
