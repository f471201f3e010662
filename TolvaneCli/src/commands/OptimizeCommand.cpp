#include "OptimizeCommand.h"

#include "CasioStorage.h"
#include "Log.h"

const CommandHelp optimizeHelp = {
    "compact a storage device",
    "Compacts the storage device, so that the room of deleted files can be used\n"
    "again. A real calculator can take minutes over it; tolvane waits for it.",
    {storageOption}};

int OptimizeCommand::run(CommandContext& context) const {
    const std::string storage = context.storage();
    Log::info(("Optimizing " + storage + "; the calculator may take minutes").c_str());
    int refusal = CasioStorage::notRefused;
    if (CasioStorage::optimize(context.socket(), storage.c_str(), &refusal)) {
        Log::error((storage + ": not optimized: " + CasioStorage::refusalReason(refusal)).c_str());
        return exitFailed;
    }
    return exitDone;
}

int OptimizeCommand::runOnDrive(DriveContext& context) const {
    Log::warning((std::string(context.calculator.address) +
                  " connects as a USB drive, whose file system needs no optimizing")
                     .c_str());
    return exitDone;
}
