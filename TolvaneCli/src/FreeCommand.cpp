#include "FreeCommand.h"

#include "CasioStorage.h"
#include "Log.h"
#include "StandardOutput.h"

int runFree(CommandContext& context) {
    Socket* socket = context.openLink();
    if (socket == nullptr) {
        return exitFailed;
    }
    const std::string storage = context.storage();
    uint32_t freeBytes = 0;
    if (CasioStorage::freeSpace(socket, storage.c_str(), &freeBytes)) {
        Log::error(("Can't tell the free space of " + storage).c_str());
        return exitFailed;
    }
    StandardOutput::printLine(std::to_string(freeBytes) + "\t" + storage);
    return StandardOutput::finish() ? exitDone : exitFailed;
}
