#pragma once

#include <string>
#include <vector>

// One option a command takes.
struct OptionSpec {
    char shortName;        // '\0' when it has none
    const char* longName;  // without its dashes
    const char* valueName; // null for a flag
    const char* help;
};

// A command's arguments read the way Linux tools read theirs: short options, alone or
// bundled (-qw), with their value attached or next (-dcrd0, -d crd0); long options with
// `=` or the next argument for a value; options and operands in any order; `--` ends the
// options; `-` alone is an operand.
class CommandLine {
public:
    // False, with `error()` saying why, when an option is unknown or lacks its value.
    bool parse(const std::vector<OptionSpec>& options, const std::vector<std::string>& words);

    bool has(const std::string& longName) const;
    int count(const std::string& longName) const;
    // The value given last, or `fallback`.
    std::string value(const std::string& longName, const std::string& fallback = "") const;
    const std::vector<std::string>& operands() const { return operandList; }
    const std::string& error() const { return problem; }

private:
    struct Given {
        std::string longName;
        std::string value;
    };

    bool takeLong(const std::vector<OptionSpec>& options, const std::vector<std::string>& words,
                  size_t& index);
    bool takeShorts(const std::vector<OptionSpec>& options, const std::vector<std::string>& words,
                    size_t& index);
    bool fail(const std::string& why);

    std::vector<Given> given;
    std::vector<std::string> operandList;
    std::string problem;
};
