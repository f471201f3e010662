#include "FreeCommand.h"

#include "Log.h"
#include "StandardOutput.h"

const CommandHelp freeHelp = {"show the free bytes of a storage device, or of main memory",
                              "Prints the free bytes of the storage device, a tab, and its name.",
                              {storageOption, noEjectOption}};

int FreeCommand::run(CommandContext& context) const {
    CalcStorage* storage = context.storage();
    if (storage == nullptr) {
        return exitFailed;
    }
    const std::string device = context.device();
    uint64_t freeBytes = 0;
    std::string why;
    if (!storage->freeSpace(device, &freeBytes, &why)) {
        Log::error(("Can't tell the free space of " + device + ": " + why).c_str());
        return exitFailed;
    }
    StandardOutput::printLine(std::to_string(freeBytes) + "\t" + device);
    return StandardOutput::finish() ? exitDone : exitFailed;
}
