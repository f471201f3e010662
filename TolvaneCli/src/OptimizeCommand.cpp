#include "OptimizeCommand.h"

#include "CasioStorage.h"
#include "Log.h"

int runOptimize(CommandContext& context) {
    Socket* socket = context.openLink();
    if (socket == nullptr) {
        return exitFailed;
    }
    const std::string storage = context.storage();
    Log::info(("Optimizing " + storage + "; the calculator may take minutes").c_str());
    int refusal = CasioStorage::notRefused;
    if (CasioStorage::optimize(socket, storage.c_str(), &refusal)) {
        Log::error((storage + ": not optimized: " + CasioStorage::refusalReason(refusal)).c_str());
        return exitFailed;
    }
    return exitDone;
}
