#include "ArgReader.h"
#include "ArgHelp.h"
#include "Log.h"
#include "StdoutCapture.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

const std::string help = "Available arguments: \n"
                         "-f FILENAME (REQUIRED)\n"
                         "-F FOLDERNAME (default to root)\n"
                         "-d DEVICENAME (internal flash: fls0 DEFAULT, external sd: crd0)\n"
                         "-w (allow overwrite, disabled by default)\n"
                         "-l (log level, 0 to 3, default to 2)\n"
                         "-q (quiet, disabled by default)\n";

struct Scan {
    bool failed;
    std::string printed;
    int loglevel;
};

class ArgReaderTest : public ::testing::Test {
protected:
    void SetUp() override { Log::setLoglevel(LOGLEVEL_INFO); }

    // The arguments live in the fixture, since the reader keeps pointers into them.
    Scan scan(std::vector<std::string> arguments) {
        storage = std::move(arguments);
        storage.insert(storage.begin(), "TolvaneUploader");
        argv.clear();
        for (std::string& argument : storage) {
            argv.push_back(argument.data());
        }
        argv.push_back(nullptr);
        StdoutCapture capture;
        const bool failed = reader.readArg(static_cast<int>(storage.size()), argv.data());
        return {failed, capture.finish(), Log::getLoglevel()};
    }

    ArgReader reader;
    std::vector<std::string> storage;
    std::vector<char*> argv;
};

TEST_F(ArgReaderTest, HelpTextIsExact) {
    Log::setLoglevel(-1);
    StdoutCapture capture;
    ArgHelp::showHelp();
    EXPECT_EQ(capture.finish(), help);
}

TEST_F(ArgReaderTest, DefaultsFillWhatIsNotGiven) {
    const Scan result = scan({"-f", "PROG.g3m"});
    EXPECT_FALSE(result.failed);
    EXPECT_EQ(result.printed, "");
    EXPECT_STREQ(reader.getFileName(), "PROG.g3m");
    EXPECT_STREQ(reader.getFolderName(), "");
    EXPECT_STREQ(reader.getDeviceName(), "fls0");
    EXPECT_FALSE(reader.getAllowOverwrite());
    EXPECT_EQ(result.loglevel, LOGLEVEL_INFO);
}

TEST_F(ArgReaderTest, EveryOptionIsTakenAndTheLastValueWins) {
    const Scan result = scan(
        {"-f", "A.txt", "-F", "GAMES", "-d", "crd0", "-w", "stray", "-x", "--f", "-f", "B.txt"});
    EXPECT_FALSE(result.failed);
    EXPECT_EQ(result.printed, "");
    EXPECT_STREQ(reader.getFileName(), "B.txt");
    EXPECT_STREQ(reader.getFolderName(), "GAMES");
    EXPECT_STREQ(reader.getDeviceName(), "crd0");
    EXPECT_TRUE(reader.getAllowOverwrite());
}

TEST_F(ArgReaderTest, NoFileIsRejectedWithTheHelpAlone) {
    EXPECT_EQ(scan({}).printed, help);
    const Scan result = scan({"-w", "-F", "DIR"});
    EXPECT_TRUE(result.failed);
    EXPECT_EQ(result.printed, help);
}

TEST_F(ArgReaderTest, AnOptionMissingItsValueIsRejected) {
    EXPECT_EQ(scan({"-f"}).printed, "1 2\n[ERROR]: -f without argument!\n" + help);
    EXPECT_EQ(scan({"-l", "3", "-f"}).printed, "3 4\n[ERROR]: -f without argument!\n" + help);
    EXPECT_EQ(scan({"-f", "A", "-F"}).printed, "[ERROR]: -F without argument!\n" + help);
    EXPECT_EQ(scan({"-f", "A", "-d"}).printed, "[ERROR]: -d without argument!\n" + help);
    const Scan result = scan({"-f", "A", "-l"});
    EXPECT_TRUE(result.failed);
    EXPECT_EQ(result.printed, "[ERROR]: -l without argument!\n" + help);
}

TEST_F(ArgReaderTest, AValueIsExaminedAgainAsAnOption) {
    EXPECT_FALSE(scan({"-f", "-w"}).failed);
    EXPECT_STREQ(reader.getFileName(), "-w");
    EXPECT_TRUE(reader.getAllowOverwrite());

    // "-q" converts to level 0, then takes effect as the quiet option.
    const Scan result = scan({"-f", "A", "-l", "-q"});
    EXPECT_FALSE(result.failed);
    EXPECT_EQ(result.loglevel, -1);
}

TEST_F(ArgReaderTest, LengthsOnlyWarnAndObeyTheLevelAtThatPoint) {
    const std::string longName = "ABCDEFGHIJKLMNOPQRST";
    EXPECT_EQ(scan({"-f", "ABCDEFGH.txt", "-F", "ABCDEFGH", "-d", "crd0"}).printed, "");
    EXPECT_EQ(scan({"-f", longName, "-F", "FOLDERNAME12345", "-d", "crd01"}).printed,
              "[WARNING]: File name might be too long (12 max) !\n"
              "[WARNING]: Folder name might be too long (8 max) !\n"
              "[WARNING]: Device name might be too long (4 max) !\n");
    EXPECT_STREQ(reader.getFolderName(), "FOLDERNAME12345");

    Log::setLoglevel(LOGLEVEL_INFO);
    EXPECT_EQ(scan({"-q", "-f", longName}).printed, "");
    Log::setLoglevel(LOGLEVEL_INFO);
    EXPECT_EQ(scan({"-f", longName, "-q"}).printed,
              "[WARNING]: File name might be too long (12 max) !\n");
}

TEST_F(ArgReaderTest, LogLevelIsConvertedAndRangeChecked) {
    EXPECT_EQ(scan({"-f", "A", "-l", "3"}).loglevel, 3);
    EXPECT_EQ(scan({"-f", "A", "-l", " +1xyz"}).loglevel, 1);
    const Scan letters = scan({"-f", "A", "-l", "abc"});
    EXPECT_FALSE(letters.failed);
    EXPECT_EQ(letters.loglevel, 0);

    for (const char* outOfRange : {"-1", "4", "4294967296"}) {
        Log::setLoglevel(LOGLEVEL_INFO);
        const Scan result = scan({"-f", "A", "-l", outOfRange});
        EXPECT_TRUE(result.failed) << outOfRange;
        EXPECT_EQ(result.printed, "[ERROR]: -l out of range!\n" + help) << outOfRange;
    }

    // Silenced first, the range error is not shown but the help text is.
    const Scan silenced = scan({"-q", "-f", "A", "-l", "9"});
    EXPECT_TRUE(silenced.failed);
    EXPECT_EQ(silenced.printed, help);
}

} // namespace
