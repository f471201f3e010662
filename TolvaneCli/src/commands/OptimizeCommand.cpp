#include "OptimizeCommand.h"

#include "Log.h"

const CommandHelp optimizeHelp = {
    "compact a storage device",
    "Compacts the storage device, so that the room of deleted files can be used\n"
    "again. A real calculator can take minutes over it; tolvane waits for it. A\n"
    "calculator that connects as a USB drive needs none: nothing is done there.",
    {storageOption}};

std::optional<int> OptimizeCommand::check(const CommandLine& line) {
    if (line.value("storage") == CalcPath::mainMemory) {
        Log::error("Main memory is not optimized: optimize compacts fls0 or crd0");
        return exitUsage;
    }
    return std::nullopt;
}

int OptimizeCommand::run(CommandContext& context) const {
    if (!context.has(Capability::Optimize)) {
        Log::warning(context.lacking(Capability::Optimize).c_str());
        return exitDone;
    }
    CalcStorage* storage = context.storage();
    if (storage == nullptr) {
        return exitFailed;
    }
    const std::string device = context.device();
    Log::info(("Optimizing " + device + "; the calculator may take minutes").c_str());
    std::string why;
    if (storage->optimize(device, &why) != Outcome::Done) {
        Log::error((device + ": not optimized: " + why).c_str());
        return exitFailed;
    }
    return exitDone;
}
