// tolvane's help, made from the table of commands: each usage line is whole.

#include "Usage.h"
#include "Commands.h"

#include <cstdio>
#include <cstdlib>
#include <gtest/gtest.h>
#include <sstream>
#include <vector>

namespace {

// The help of `command`, or the program's with none.
std::string helpOf(const Command* command) {
    char* text = nullptr;
    size_t size = 0;
    FILE* stream = open_memstream(&text, &size);
    command != nullptr ? Usage::printCommand(*command, stream) : Usage::printProgram(stream);
    fclose(stream);
    std::string help(text, size);
    free(text);
    return help;
}

bool endsWith(const std::string& text, const std::string& ending) {
    return text.size() >= ending.size() &&
           text.compare(text.size() - ending.size(), ending.size(), ending) == 0;
}

// An option without a short name once cut the line short, operands and all.
TEST(Usage, EveryUsageLineShowsEachOptionAndEndsWithTheOperands) {
    for (const Command& command : commands()) {
        const std::string help = helpOf(&command);
        const std::string line = help.substr(0, help.find('\n'));
        EXPECT_EQ(line.rfind(std::string("usage: tolvane ") + command.name, 0), 0u) << line;
        for (const OptionSpec& option : command.help.options) {
            const std::string name = option.shortName != '\0' ? std::string("-") + option.shortName
                                                              : std::string("--") + option.longName;
            EXPECT_NE(line.find(" [" + name), std::string::npos) << name << " in " << line;
        }
        if (*command.operands != '\0') {
            EXPECT_TRUE(endsWith(line, std::string(" ") + command.operands)) << line;
        }
    }
}

// Each option's help starts in one column, its continuation lines too, within 80 columns.
TEST(Usage, OptionHelpLinesUpInOneColumn) {
    std::vector<const Command*> helps = {nullptr};
    for (const Command& command : commands()) {
        helps.push_back(&command);
    }
    for (const Command* command : helps) {
        const std::string help = helpOf(command);
        const size_t options = help.find("\nOptions:\n");
        ASSERT_NE(options, std::string::npos);
        const size_t end = help.find("\n\n", options + 1);
        std::istringstream lines(help.substr(options + 10, end - options - 10));
        for (std::string line; std::getline(lines, line);) {
            EXPECT_EQ(line.find_first_not_of(' ', 26), 28u) << line;
            EXPECT_LE(line.size(), 80u) << line;
        }
    }
}

} // namespace
