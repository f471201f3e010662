#include "Commands.h"
#include "Dispatcher.h"
#include "Interruption.h"
#include "LocalTarget.h"
#include "Log.h"
#include "Usage.h"

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace {

const OptionSpec* optionNamed(const std::vector<OptionSpec>& options, const std::string& longName,
                              char shortName) {
    for (const OptionSpec& option : options) {
        if ((!longName.empty() && longName == option.longName) ||
            (shortName != '\0' && shortName == option.shortName)) {
            return &option;
        }
    }
    return nullptr;
}

// Whether the option word `word` takes its value from the next word: a long option without
// `=`, or a bundle of short ones whose first that takes a value is its last letter.
bool takesNextWord(const std::vector<OptionSpec>& options, const std::string& word) {
    if (word.rfind("--", 0) == 0) {
        const OptionSpec* option = optionNamed(options, word.substr(2), '\0');
        return option != nullptr && option->valueName != nullptr &&
               word.find('=') == std::string::npos;
    }
    for (size_t letter = 1; letter < word.size(); ++letter) {
        const OptionSpec* option = optionNamed(options, "", word[letter]);
        if (option != nullptr && option->valueName != nullptr) {
            return letter + 1 == word.size();
        }
    }
    return false;
}

// The options before the command, with their values.
std::vector<std::string> leadingOptions(const std::vector<OptionSpec>& options,
                                        const std::vector<std::string>& words) {
    std::vector<std::string> leading;
    for (size_t index = 0; index < words.size(); ++index) {
        const std::string& word = words[index];
        if (word.size() < 2 || word[0] != '-' || word == "--") {
            break;
        }
        leading.push_back(word);
        if (takesNextWord(options, word) && index + 1 < words.size()) {
            leading.push_back(words[++index]);
        }
    }
    return leading;
}

void applyVerbosity(const CommandLine& line) {
    if (line.has("quiet")) {
        Log::setLoglevel(LOGLEVEL_ERROR);
    } else if (line.has("verbose")) {
        Log::setLoglevel(LOGLEVEL_DEBUG);
    }
}

// What the command line cannot mean; empty when it is sound.
std::string misuseOf(const Command& command, const CommandLine& line) {
    const size_t operands = line.operands().size();
    if (operands < command.fewestOperands) {
        return std::string(command.name) + ": missing " + command.operands;
    }
    if (operands > command.mostOperands) {
        return std::string(command.name) + ": unexpected '" +
               line.operands()[command.mostOperands] + "'";
    }
    if (line.has("storage") && !isStorageDevice(line.value("storage"))) {
        return "unknown storage device '" + line.value("storage") + "': fls0, crd0 or main";
    }
    if (line.has("all") && command.needs != Needs::Storage) {
        return std::string(command.name) + " works on one calculator: --all is not for it";
    }
    if (line.has("calculator") && command.needs == Needs::Nothing) {
        return std::string(command.name) + " chooses no calculator: -c is not for it";
    }
    if (line.has("all") && line.has("calculator")) {
        return "-c chooses one calculator, --all every one: not both";
    }
    if (line.has("all") && command.ownFolder != OwnFolder::None && line.has("output") &&
        !LocalTarget::isFolder(line.value("output"))) {
        return "With --all, -o must name an existing folder, where each calculator gets one";
    }
    return "";
}

// The calculators the user chose: -c wins over the environment.
CalcTarget targetOf(const CommandLine& line) {
    const char* fromEnvironment = getenv("TOLVANE_CALCULATOR");
    return {line.value("calculator", fromEnvironment != nullptr ? fromEnvironment : ""),
            line.has("all")};
}

} // namespace

int main(int argc, char** argv) {
    Log::setOutput(stderr);
    Log::setLoglevel(LOGLEVEL_WARNING);
    // Each failed transfer, and the numbers behind a damaged packet, are protocol detail: the
    // lines that sum them up say what went wrong.
    Log::setDetailLevel(LOGLEVEL_DEBUG);

    const std::vector<std::string> words(argv + 1, argv + argc);
    std::vector<OptionSpec> programOptions = commonOptions();
    programOptions.push_back({'\0', "version", nullptr, ""});
    // Before the command as after it, for the commands that take it.
    programOptions.push_back(noEjectOption);
    const std::vector<std::string> leading = leadingOptions(programOptions, words);
    CommandLine program;
    if (!program.parse(programOptions, leading)) {
        return Usage::reject(program.error(), nullptr);
    }
    if (program.has("help")) {
        Usage::printProgram(stdout);
        return exitDone;
    }
    if (program.has("version")) {
        printf("tolvane %s\n", TOLVANE_VERSION);
        return exitDone;
    }
    if (leading.size() == words.size()) {
        return Usage::reject("missing command", nullptr);
    }
    const std::string& name = words[leading.size()];
    const Command* command = findCommand(name);
    if (command == nullptr) {
        return Usage::reject("unknown command '" + name + "'", nullptr);
    }

    std::vector<OptionSpec> options = command->help.options;
    options.insert(options.end(), commonOptions().begin(), commonOptions().end());
    // The options before the command count as if given after it, first.
    std::vector<std::string> commandWords = leading;
    commandWords.insert(commandWords.end(), words.begin() + leading.size() + 1, words.end());
    CommandLine line;
    if (!line.parse(options, commandWords)) {
        return Usage::reject(std::string(command->name) + ": " + line.error(), command);
    }
    if (line.has("help")) {
        Usage::printCommand(*command, stdout);
        return exitDone;
    }
    const std::string misuse = misuseOf(*command, line);
    if (!misuse.empty()) {
        return Usage::reject(misuse, command);
    }
    applyVerbosity(line);
    return Dispatcher::run(*command, line, targetOf(line));
}
