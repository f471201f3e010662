#include "Commands.h"
#include "Interruption.h"
#include "Log.h"
#include "Usage.h"

#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace {

const char* const storageDevices[] = {"fls0", "crd0"};

// The options before the command.
std::vector<std::string> leadingOptions(const std::vector<std::string>& words) {
    std::vector<std::string> options;
    for (const std::string& word : words) {
        if (word.size() < 2 || word[0] != '-' || word == "--") {
            break;
        }
        options.push_back(word);
    }
    return options;
}

void applyVerbosity(const CommandLine& line) {
    if (line.has("quiet")) {
        Log::setLoglevel(LOGLEVEL_ERROR);
    } else if (line.has("verbose")) {
        Log::setLoglevel(LOGLEVEL_DEBUG);
    }
}

bool isStorageDevice(const std::string& name) {
    for (const char* device : storageDevices) {
        if (name == device) {
            return true;
        }
    }
    return false;
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
        return "unknown storage device '" + line.value("storage") + "': fls0 or crd0";
    }
    return "";
}

// The exit status of a command that a signal ended, or of one that ended on its own.
int endedBy(const Command& command, int status) {
    if (!Interruption::happened()) {
        return status;
    }
    if (command.onSignal == OnSignal::Finish) {
        return exitDone;
    }
    Log::error("Interrupted");
    return 128 + Interruption::signalNumber();
}

// Checks the command's operands and local files, opens what its entry needs, runs it, and
// ends the session whatever happened; the exit status.
int dispatch(const Command& command, const CommandLine& line) {
    Interruption::install();
    const std::unique_ptr<CommandTask> task = command.task();
    if (const std::optional<int> status = task->check(line)) {
        return *status == exitUsage ? Usage::remind(command) : *status;
    }
    Link link;
    if (command.needs == Needs::Session && !link.openSession()) {
        return endedBy(command, exitFailed);
    }
    CommandContext context(line, link);
    int status = task->run(context);
    if (status == exitUsage) {
        Usage::remind(command);
    }
    if (!link.close(Interruption::happened()) && status == exitDone) {
        status = exitFailed;
    }
    return endedBy(command, status);
}

} // namespace

int main(int argc, char** argv) {
    Log::setOutput(stderr);
    Log::setLoglevel(LOGLEVEL_WARNING);
    // Each failed transfer, and the numbers behind a damaged packet, are protocol detail: the
    // lines that sum them up say what went wrong.
    Log::setDetailLevel(LOGLEVEL_DEBUG);

    const std::vector<std::string> words(argv + 1, argv + argc);
    const std::vector<std::string> leading = leadingOptions(words);
    std::vector<OptionSpec> programOptions = commonOptions();
    programOptions.push_back({'\0', "version", nullptr, ""});
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
    CommandLine line;
    if (!line.parse(options, {words.begin() + leading.size() + 1, words.end()})) {
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
    applyVerbosity(program);
    applyVerbosity(line);
    return dispatch(*command, line);
}
