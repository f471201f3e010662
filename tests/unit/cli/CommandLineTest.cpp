// The pieces of tolvane that need no calculator: reading a command line, naming a file on
// the calculator, and putting a downloaded file in place.

#include "CommandLine.h"
#include "CalcPath.h"
#include "Log.h"
#include "StagedFile.h"
#include "StdoutCapture.h"

#include <cstdio>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <unistd.h>

namespace {

const std::vector<OptionSpec> options = {
    {'d', "storage", "DEV", ""},
    {'w', "overwrite", nullptr, ""},
    {'q', "quiet", nullptr, ""},
    {'\0', "no-pipeline", nullptr, ""},
};

// The options given, as "name=value" in order of their names, then the operands.
std::string read(const std::vector<std::string>& words) {
    CommandLine line;
    if (!line.parse(options, words)) {
        return "error: " + line.error();
    }
    std::string shown;
    for (const OptionSpec& option : options) {
        for (int i = 0; i < line.count(option.longName); ++i) {
            shown += std::string(option.longName) + "=" + line.value(option.longName) + " ";
        }
    }
    for (const std::string& operand : line.operands()) {
        shown += "[" + operand + "]";
    }
    return shown;
}

TEST(CommandLine, ReadsOptionsAndOperandsTheWayLinuxToolsDo) {
    const struct {
        std::vector<std::string> words;
        std::string read;
    } cases[] = {
        {{"A", "-d", "crd0", "B"}, "storage=crd0 [A][B]"},
        {{"-dcrd0", "--storage=fls0"}, "storage=fls0 storage=fls0 "},
        {{"--storage", "crd0", "-qw"}, "storage=crd0 overwrite= quiet= "},
        {{"-wdcrd0", "X"}, "storage=crd0 overwrite= [X]"},
        {{"-", "--", "-w", "--storage"}, "[-][-w][--storage]"},
        {{"--no-pipeline", "F"}, "no-pipeline= [F]"},
        {{"-x"}, "error: unknown option '-x'"},
        {{"--frob"}, "error: unknown option '--frob'"},
        {{"-d"}, "error: option '-d' needs a value"},
        {{"--storage"}, "error: option '--storage' needs a value"},
        {{"--quiet=yes"}, "error: option '--quiet' takes no value"},
    };
    for (const auto& scenario : cases) {
        EXPECT_EQ(read(scenario.words), scenario.read);
    }
}

TEST(CommandLine, TheLastValueGivenCounts) {
    CommandLine line;
    ASSERT_TRUE(line.parse(options, {"-d", "fls0", "-d", "crd0"}));
    EXPECT_EQ(line.value("storage"), "crd0");
    EXPECT_EQ(line.value("overwrite", "none"), "none");
}

TEST(CalcPath, NamesAFileInTheRootOrOneFolderDeep) {
    const struct {
        std::string text;
        bool valid;
        std::string folder;
        std::string name;
    } cases[] = {
        {"GAME.G1A", true, "", "GAME.G1A"},
        {"NOTES/A.TXT", true, "NOTES", "A.TXT"},
        {"A B\\C", true, "", "A B\\C"},
        {"", false, "", ""},
        {"/A", false, "", ""},
        {"A/", false, "", ""},
        {"A/B/C", false, "", ""},
        {"..", false, "", ""},
        {"./A", false, "", ""},
        {std::string(256, 'n'), false, "", ""},
        {std::string(255, 'f') + "/" + std::string(255, 'n'), true, std::string(255, 'f'),
         std::string(255, 'n')},
    };
    for (const auto& scenario : cases) {
        CalcPath path;
        std::string problem;
        EXPECT_EQ(CalcPath::parse(scenario.text, &path, &problem), scenario.valid) << scenario.text;
        if (scenario.valid) {
            EXPECT_EQ(path.folder, scenario.folder);
            EXPECT_EQ(path.name, scenario.name);
        } else {
            EXPECT_NE(problem.find("is no calculator file"), std::string::npos);
        }
    }
}

class StagedFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/tolvane-staged-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        folder = pattern;
        Log::setLoglevel(LOGLEVEL_ERROR);
    }
    void TearDown() override { std::system(("rm -rf " + folder).c_str()); }

    std::vector<std::string> entries() {
        std::vector<std::string> names;
        FILE* list = popen(("ls -A " + folder).c_str(), "r");
        char line[256];
        while (fgets(line, sizeof line, list) != nullptr) {
            names.emplace_back(line, strcspn(line, "\n"));
        }
        pclose(list);
        return names;
    }
    std::string contents(const std::string& name) {
        std::ifstream file(folder + "/" + name);
        return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
    }
    // Writes `text` through a staged file and commits it; true when it took its place.
    bool stage(const std::string& text, bool replace) {
        StagedFile file(folder + "/GAME.G1A");
        if (!file.create()) {
            return false;
        }
        fputs(text.c_str(), file.stream());
        StdoutCapture capture;
        const bool committed = file.commit(replace);
        capture.finish();
        return committed;
    }

    std::string folder;
};

TEST_F(StagedFileTest, OnlyACommittedFileTakesItsNameAndNothingElseIsLeft) {
    {
        StagedFile abandoned(folder + "/GAME.G1A");
        ASSERT_TRUE(abandoned.create());
        fputs("half", abandoned.stream());
        EXPECT_EQ(entries().size(), 1u) << "written beside the target";
    }
    EXPECT_TRUE(entries().empty());

    EXPECT_TRUE(stage("first", false));
    EXPECT_FALSE(stage("second", false)) << "never replaced without asking";
    EXPECT_EQ(contents("GAME.G1A"), "first");
    EXPECT_TRUE(stage("third", true));
    EXPECT_EQ(contents("GAME.G1A"), "third");
    EXPECT_EQ(entries(), std::vector<std::string>{"GAME.G1A"});
}

} // namespace
