#include "ListCommand.h"

#include "Log.h"
#include "StandardOutput.h"

const CommandHelp listHelp = {
    "list the files on a storage device",
    "Prints one line per file, in the calculator's order: its size in bytes, a tab,\n"
    "and its path (NAME, or FOLDER/NAME for a file in a folder).",
    {storageOption, noEjectOption}};

int ListCommand::run(CommandContext& context) const {
    CalcStorage* storage = context.storage();
    if (storage == nullptr) {
        return exitFailed;
    }
    const std::string device = context.device();
    std::string why;
    const auto print = [](const CalcFile& file) {
        StandardOutput::printLine(std::to_string(file.size) + "\t" +
                                  CalcPath::printable(file.name));
    };
    if (!storage->list(device, print, &why)) {
        Log::error(("Can't list the files of " + device + ": " + why).c_str());
        StandardOutput::finish();
        return exitFailed;
    }
    return StandardOutput::finish() ? exitDone : exitFailed;
}
