// tolvane's bash completion, run in bash as a TAB would run it, with the built program,
// checked against the table of commands: a command or option added there and missed by the
// completion, or a value it does not know how to complete, fails here.

#include "Commands.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace {

using Words = std::set<std::string>;

const Words localFiles = {"GAME.G1A", "NOTES", "my file.txt"};

// What each kind of value completes to, by the name the help gives it.
const std::map<std::string, Words> valuesOfKind = {
    {"DEV", {"fls0", "crd0", "main"}},
    {"PATH", localFiles},
    {"FILE", localFiles},
    {"DIR", {"NOTES"}},
    {"FOLDER", {}},
    {"NAME", {}},
    {"N", {}},
    {"ADDRESS", {}}, // no calculator is attached here: see the end-to-end test
};

std::string shellWord(const std::string& word) {
    std::string text = "'";
    for (char character : word) {
        text += character == '\'' ? std::string("'\\''") : std::string(1, character);
    }
    return text + "'";
}

Words optionWords(const std::vector<OptionSpec>& options) {
    Words words;
    for (const OptionSpec& option : options) {
        if (option.shortName != '\0') {
            words.insert(std::string("-") + option.shortName);
        }
        words.insert(std::string("--") + option.longName);
    }
    return words;
}

// The kind of value a usage word names: "FILE..." is a FILE.
// FILE... and [FILE...] are both files.
std::string kindOf(std::string word) {
    if (word.size() > 2 && word.front() == '[' && word.back() == ']') {
        word = word.substr(1, word.size() - 2);
    }
    return word.size() > 3 && word.compare(word.size() - 3, 3, "...") == 0
               ? word.substr(0, word.size() - 3)
               : word;
}

class CompletionTest : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/tolvane-completion-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        folder = pattern;
        std::ofstream(folder + "/GAME.G1A") << "g";
        std::ofstream(folder + "/my file.txt") << "m";
        ASSERT_EQ(std::system(("mkdir " + shellWord(folder + "/NOTES")).c_str()), 0);
    }
    void TearDown() override { std::system(("rm -rf " + shellWord(folder)).c_str()); }

    // What bash offers for the last word of `tolvane WORDS...`, in the test's folder.
    Words complete(const std::vector<std::string>& words) {
        std::string command = "cd " + shellWord(folder) +
                              " && bash --norc --noprofile -c 'source \"$1\"; shift; "
                              "COMP_WORDS=(\"$@\"); COMP_CWORD=$(($# - 1)); _tolvane; "
                              "printf \"%s\\n\" \"${COMPREPLY[@]}\"' bash " +
                              shellWord(TOLVANE_COMPLETION) + " " + shellWord(TOLVANE);
        for (const std::string& word : words) {
            command += " " + shellWord(word);
        }
        Words offered;
        FILE* output = popen(command.c_str(), "r");
        char line[512];
        while (fgets(line, sizeof line, output) != nullptr) {
            const std::string word(line, strcspn(line, "\n"));
            if (!word.empty()) {
                offered.insert(word);
            }
        }
        EXPECT_EQ(pclose(output), 0) << command;
        return offered;
    }

    std::string folder;
};

TEST_F(CompletionTest, OffersTheCommandsAndTheProgramsOptions) {
    Words names;
    for (const Command& command : commands()) {
        names.insert(command.name);
    }
    Words programOptions = optionWords(commonOptions());
    programOptions.insert("--version");

    EXPECT_EQ(complete({""}), names);
    EXPECT_EQ(complete({"-q", ""}), names);
    EXPECT_EQ(complete({"se"}), Words{"send"});
    EXPECT_EQ(complete({"-"}), programOptions);
    EXPECT_EQ(complete({"frob", ""}), Words{});
}

TEST_F(CompletionTest, OffersEachCommandsOwnOptionsAndTheCommonOnes) {
    for (const Command& command : commands()) {
        Words expected = optionWords(command.help.options);
        const Words common = optionWords(commonOptions());
        expected.insert(common.begin(), common.end());
        EXPECT_EQ(complete({command.name, "-"}), expected) << command.name;
    }
}

// Given apart, after '=' (which bash splits off), or at the end of bundled short options.
TEST_F(CompletionTest, CompletesAnOptionsValueByItsKind) {
    for (const Command& command : commands()) {
        std::vector<OptionSpec> options = command.help.options;
        options.insert(options.end(), commonOptions().begin(), commonOptions().end());
        for (const OptionSpec& option : options) {
            if (option.valueName == nullptr) {
                continue;
            }
            ASSERT_EQ(valuesOfKind.count(option.valueName), 1u)
                << "the completion knows no values of the kind " << option.valueName;
            const Words& expected = valuesOfKind.at(option.valueName);
            const std::string longName = std::string("--") + option.longName;
            const std::string shortName = std::string("-") + option.shortName;
            EXPECT_EQ(complete({command.name, longName, ""}), expected) << longName;
            EXPECT_EQ(complete({command.name, longName, "=", ""}), expected) << longName;
            if (option.shortName != '\0') {
                EXPECT_EQ(complete({command.name, "-q" + shortName.substr(1), ""}), expected)
                    << command.name << " " << shortName;
            }
        }
    }
}

TEST_F(CompletionTest, CompletesOperandsByTheirKindAfterOptionsAndTheirValues) {
    for (const Command& command : commands()) {
        const std::string kind = kindOf(command.operands);
        const Words expected = kind.empty() ? Words{} : valuesOfKind.at(kind);
        EXPECT_EQ(complete({command.name, ""}), expected) << command.name;
        EXPECT_EQ(complete({command.name, "-q", "--", ""}), expected) << command.name;
        for (const OptionSpec& option : command.help.options) {
            const std::string longName = std::string("--") + option.longName;
            const std::vector<std::string> words =
                option.valueName != nullptr
                    ? std::vector<std::string>{command.name, longName, "VALUE", ""}
                    : std::vector<std::string>{command.name, longName, ""};
            EXPECT_EQ(complete(words), expected) << command.name << " " << longName;
        }
    }
    EXPECT_EQ(complete({"send", "G"}), Words{"GAME.G1A"});
    EXPECT_EQ(complete({"-c", "1-4.2", "send", "G"}), Words{"GAME.G1A"})
        << "the value of an option before the command is no command";
    EXPECT_EQ(complete({"send", "--", "-"}), Words{}) << "no options after --";
}

} // namespace
