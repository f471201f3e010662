#include "FreeCommand.h"

#include "CasioStorage.h"
#include "Log.h"
#include "StandardOutput.h"

const CommandHelp freeHelp = {"show the free bytes of a storage device",
                              "Prints the free bytes of the storage device, a tab, and its name.",
                              {storageOption, noEjectOption}};

int FreeCommand::run(CommandContext& context) const {
    const std::string storage = context.storage();
    uint32_t freeBytes = 0;
    if (CasioStorage::freeSpace(context.socket(), storage.c_str(), &freeBytes)) {
        Log::error(("Can't tell the free space of " + storage).c_str());
        return exitFailed;
    }
    StandardOutput::printLine(std::to_string(freeBytes) + "\t" + storage);
    return StandardOutput::finish() ? exitDone : exitFailed;
}

int FreeCommand::runOnDrive(DriveContext& context) const {
    DriveFiles* files = context.files();
    DriveSpace space;
    if (files == nullptr || !files->space(&space)) {
        return exitFailed;
    }
    StandardOutput::printLine(std::to_string(space.free) + "\tfls0");
    return StandardOutput::finish() ? exitDone : exitFailed;
}
