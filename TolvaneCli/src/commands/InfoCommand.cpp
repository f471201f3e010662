#include "InfoCommand.h"

#include "Log.h"
#include "StandardOutput.h"

#include <vector>

const CommandHelp infoHelp = {
    "show what the calculator is",
    "Prints what the calculator tells about itself, one 'Label: value' line each:\n"
    "hardware, processor, OS and boot code versions, flash and RAM, protocol, product\n"
    "and user. Of a calculator that connects as a USB drive, what its USB strings and\n"
    "its file system tell: product, serial, file system, label and size.",
    {noEjectOption}};

int InfoCommand::run(CommandContext& context) const {
    CalcStorage* storage = context.storage();
    if (storage == nullptr) {
        return exitFailed;
    }
    std::vector<std::pair<std::string, std::string>> fields;
    std::string why;
    if (!storage->describe(&fields, &why)) {
        Log::error(("Can't read what the calculator is: " + why).c_str());
        return exitFailed;
    }
    for (const auto& [label, value] : fields) {
        StandardOutput::printLine(label + ": " + value);
    }
    return StandardOutput::finish() ? exitDone : exitFailed;
}
