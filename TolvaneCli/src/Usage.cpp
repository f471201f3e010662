#include "Usage.h"

#include "Log.h"

#include <string>

namespace {

constexpr const char* synopsis = "tolvane [-q|-v] [-c ADDRESS|--all] COMMAND [OPTIONS] [ARGS]";

std::string optionNames(const OptionSpec& option) {
    std::string names =
        option.shortName != '\0' ? std::string("-") + option.shortName + ", " : std::string("    ");
    names += std::string("--") + option.longName;
    if (option.valueName != nullptr) {
        names += std::string(" ") + option.valueName;
    }
    return names;
}

// The option names take this many columns, the longest ("-c, --calculator ADDRESS")
// included; the help starts two columns after.
constexpr int namesWidth = 24;
constexpr int helpColumn = 2 + namesWidth + 2;

// Continuation lines of a help text line up under its first line.
void printOption(const OptionSpec& option, FILE* stream) {
    std::string help = option.help;
    for (size_t newline = help.find('\n'); newline != std::string::npos;
         newline = help.find('\n', newline + 1)) {
        help.insert(newline + 1, std::string(helpColumn, ' '));
    }
    fprintf(stream, "  %-*s  %s\n", namesWidth, optionNames(option).c_str(), help.c_str());
}

// An option as a usage line shows it: by its short name where it has one.
std::string shortestName(const OptionSpec& option) {
    return option.shortName != '\0' ? std::string("-") + option.shortName
                                    : std::string("--") + option.longName;
}

std::string usageLine(const Command& command) {
    std::string line = std::string("tolvane ") + command.name;
    for (const OptionSpec& option : command.help.options) {
        line += " [" + shortestName(option);
        if (option.valueName != nullptr) {
            line += std::string(" ") + option.valueName;
        }
        line += "]";
    }
    if (*command.operands != '\0') {
        line += std::string(" ") + command.operands;
    }
    return line;
}

} // namespace

void Usage::printProgram(FILE* stream) {
    fprintf(stream,
            "usage: %s\n\n"
            "Talks to a Casio graphing calculator over USB: see and fetch its files, send a\n"
            "whole build to it, delete, tidy, follow what an add-in prints, and show its\n"
            "screen.\n\n"
            "Commands:\n",
            synopsis);
    for (const Command& command : commands()) {
        fprintf(stream, "  %-10s %s\n", command.name, command.help.summary);
    }
    fprintf(stream, "\nOptions:\n");
    for (const OptionSpec& option : commonOptions()) {
        printOption(option, stream);
    }
    printOption({'\0', "version", nullptr, "show the version"}, stream);
    fprintf(stream,
            "\n'tolvane COMMAND --help' tells more of a command. Data goes to standard output,\n"
            "messages to standard error. Exit status: 0 when everything asked for was done,\n"
            "1 when something failed, 2 for a usage error, 128+N when signal N ended it.\n"
            "Put the calculator in its USB receive mode first; see tolvane(1).\n");
}

void Usage::printCommand(const Command& command, FILE* stream) {
    fprintf(stream, "usage: %s\n\n%s\n", usageLine(command).c_str(), command.help.description);
    fprintf(stream, "\nOptions:\n");
    for (const OptionSpec& option : command.help.options) {
        printOption(option, stream);
    }
    for (const OptionSpec& option : commonOptions()) {
        printOption(option, stream);
    }
}

int Usage::reject(const std::string& problem, const Command* command) {
    Log::error(problem.c_str());
    if (command != nullptr) {
        return remind(*command);
    }
    fprintf(stderr, "usage: %s\nTry 'tolvane --help'.\n", synopsis);
    return exitUsage;
}

int Usage::remind(const Command& command) {
    fprintf(stderr, "usage: %s\nTry 'tolvane %s --help'.\n", usageLine(command).c_str(),
            command.name);
    return exitUsage;
}
