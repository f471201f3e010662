// The pieces of tolvane that need no calculator: reading a command line, naming a file on
// the calculator, and putting a downloaded file in place.

#include "CommandLine.h"
#include "CalcPath.h"
#include "Log.h"
#include "OutputFile.h"
#include "StdoutCapture.h"

#include <atomic>
#include <cstdio>
#include <fcntl.h>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <thread>
#include <unistd.h>

// Every umask() call of the program's code, counted.
std::atomic<int> umaskCalls(0);

extern "C" mode_t umask(mode_t mask) {
    ++umaskCalls;
    return static_cast<mode_t>(syscall(SYS_umask, mask));
}

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
        {"A\tB", false, "", ""},
        {"DIR\x7F/A", false, "", ""},
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

// An item's path reads back as the fields it was made of, odd bytes and all.
TEST(CalcPath, NamesAnItemOfMainMemoryByAsMuchAsTellsItApart) {
    const struct {
        std::string text;
        bool valid;
        std::string group, directory, name;
        int type;
    } cases[] = {
        {"GAME", true, "", "", "GAME", -1},
        {"PROGRAM/GAME", true, "PROGRAM", "", "GAME", -1},
        {"PICTURE 3/PICT3", true, "PICTURE 3", "", "PICT3", -1},
        {"PROGRAM/system/GAME#01", true, "PROGRAM", "system", "GAME", 1},
        {"LIST/main/A%2FB%25%23%CD", true, "LIST", "main", "A/B%#\xCD", -1},
        {"PROGRAM/%zz", false, "", "", "", -1},
        {"PROGRAM/GAME#1", false, "", "", "", -1},
        {"A/B/C/D", false, "", "", "", -1},
        {"PROGRAM/", false, "", "", "", -1},
    };
    for (const auto& scenario : cases) {
        CalcPath path;
        std::string problem;
        EXPECT_EQ(CalcPath::parseItem(scenario.text, &path, &problem), scenario.valid)
            << scenario.text;
        if (scenario.valid) {
            EXPECT_TRUE(path.folder == scenario.group && path.directory == scenario.directory &&
                        path.name == scenario.name && path.type == scenario.type)
                << scenario.text;
            EXPECT_EQ(path.text(), scenario.text);
        }
    }
    const std::string shown = CalcPath::itemText("A\x1B", "main", "N/1", 0x0A,
                                                 CalcPath::Detail::DirectoryAndType);
    EXPECT_EQ(shown, "A%1B/main/N%2F1#0A") << "nothing a terminal obeys";
}

class OutputFileTest : public ::testing::Test {
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
        char line[512];
        while (fgets(line, sizeof line, list) != nullptr) {
            names.emplace_back(line, strcspn(line, "\n"));
        }
        pclose(list);
        return names;
    }
    // Empty for what holds no bytes (a folder, nothing at all).
    std::string contents(const std::string& name) {
        std::string text;
        FILE* file = fopen(at(name).c_str(), "rb");
        char chunk[256];
        for (size_t count = 0;
             file != nullptr && (count = fread(chunk, 1, sizeof chunk, file)) > 0;) {
            text.append(chunk, count);
        }
        if (file != nullptr) {
            fclose(file);
        }
        return text;
    }
    std::string at(const std::string& name) { return name[0] == '/' ? name : folder + "/" + name; }
    void put(const std::string& name, const std::string& text, mode_t mode = 0644) {
        std::ofstream(at(name)) << text;
        chmod(at(name).c_str(), mode);
    }
    // Writes `text` to `name` as a download does; true when it took its place. What was
    // printed is kept.
    bool fetchInto(const std::string& name, const std::string& text, bool replace) {
        StdoutCapture capture;
        LocalTarget target;
        bool written = LocalTarget::examine(at(name), replace, &target);
        if (written) {
            OutputFile file(target);
            written = file.create() && fputs(text.c_str(), file.stream()) >= 0 && file.commit();
        }
        printed = capture.finish();
        return written;
    }

    std::string folder;
    std::string printed;
};

TEST_F(OutputFileTest, OnlyACommittedFileTakesItsNameAndNothingElseIsLeft) {
    {
        LocalTarget target;
        ASSERT_TRUE(LocalTarget::examine(at("GAME.G1A"), false, &target));
        OutputFile abandoned(target);
        ASSERT_TRUE(abandoned.create());
        fputs("half", abandoned.stream());
        EXPECT_EQ(entries().size(), 1u) << "written beside the target";
    }
    EXPECT_TRUE(entries().empty());

    const std::string longName(255, 'n');
    EXPECT_TRUE(fetchInto(longName, "the longest name", false)) << printed;
    EXPECT_EQ(contents(longName), "the longest name");
    EXPECT_EQ(entries(), std::vector<std::string>{longName});
}

// Whatever lies at the target already: kept without -w, written through or into as cp would,
// never replaced by something of another kind or with wider permissions.
TEST_F(OutputFileTest, WhatIsThereAlreadyIsRespected) {
    put("OWN.TXT", "old", 0600);
    put("OTHER.TXT", "linked");
    symlink("OTHER.TXT", at("LINK").c_str());
    symlink("NOWHERE", at("DANGLING").c_str());
    mkdir(at("DIR").c_str(), 0755);
    put("LOG.TXT", "old ");
    const int appended = open(at("LOG.TXT").c_str(), O_WRONLY | O_APPEND);
    const struct {
        std::string name;
        bool replace;
        bool written;
        std::string said;
        std::string readBack; // of `name` afterwards
    } cases[] = {
        {"OWN.TXT", false, false, "exists; -w replaces it", "old"},
        {"OWN.TXT", true, true, "", "new"},
        {"LINK", false, false, "exists; -w replaces it", "linked"},
        {"LINK", true, true, "", "new"},
        {"DANGLING", true, false, "a link to nothing", ""},
        {"DIR", true, false, "is a folder", ""},
        {"/dev/null", false, true, "", ""},
        // An open descriptor, as /dev/stdout is one, is written through: what the file held
        // stays, even with -w.
        {"/dev/fd/" + std::to_string(appended), true, true, "", "old new"},
    };
    for (const auto& scenario : cases) {
        EXPECT_EQ(fetchInto(scenario.name, "new", scenario.replace), scenario.written)
            << scenario.name << ": " << printed;
        EXPECT_NE(printed.find(scenario.said), std::string::npos) << printed;
        EXPECT_EQ(contents(scenario.name), scenario.readBack) << scenario.name;
    }
    struct stat status;
    ASSERT_EQ(stat(at("OWN.TXT").c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, 0600u) << "a private file stays private";
    ASSERT_EQ(lstat(at("LINK").c_str(), &status), 0);
    EXPECT_TRUE(S_ISLNK(status.st_mode)) << "the link stays";
    EXPECT_EQ(contents("OTHER.TXT"), "new");
    EXPECT_EQ(contents("LOG.TXT"), "old new");
    close(appended);
    EXPECT_EQ(entries().size(), 6u) << "no temporary file is left";
}

// Under --all files are made from a thread per calculator: none of them may call umask(),
// which sets the process's umask as it reads it, for a moment in which a file or folder made
// in another thread would take the wrong permissions.
TEST_F(OutputFileTest, MakingAFileLeavesTheUmaskAlone) {
    umaskCalls = 0;
    EXPECT_TRUE(fetchInto("NEW.TXT", "x", false)) << printed;
    EXPECT_TRUE(fetchInto("NEW.TXT", "y", true)) << printed;
    EXPECT_EQ(umaskCalls, 0);
    struct stat status;
    ASSERT_EQ(stat(at("NEW.TXT").c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, LocalTarget::usualMode());
}

TEST_F(OutputFileTest, AFifoIsWrittenIntoWithoutBeingReplaced) {
    ASSERT_EQ(mkfifo(at("PIPE").c_str(), 0600), 0);
    std::string read;
    std::thread reader([&] { read = contents("PIPE"); });
    EXPECT_TRUE(fetchInto("PIPE", "through", false)) << printed;
    reader.join();
    EXPECT_EQ(read, "through");
    struct stat status;
    ASSERT_EQ(lstat(at("PIPE").c_str(), &status), 0);
    EXPECT_TRUE(S_ISFIFO(status.st_mode));
}

} // namespace
