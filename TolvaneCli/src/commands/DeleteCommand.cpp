#include "DeleteCommand.h"

#include "Interruption.h"
#include "Log.h"

const CommandHelp deleteHelp = {
    "delete files, or main memory's items, on the calculator",
    "Deletes each NAME (FILE or FOLDER/FILE on the calculator; with -d main, an item\n"
    "as list -d main shows it). The other names are still deleted when one fails.",
    {storageOption, noEjectOption}};

std::optional<int> DeleteCommand::check(const CommandLine& line) {
    names = line.operands();
    if (!CalcPath::parseAll(names, line.value("storage", "fls0"), &paths)) {
        return exitUsage;
    }
    return std::nullopt;
}

int DeleteCommand::run(CommandContext& context) const {
    if (context.device() == CalcPath::mainMemory && !context.has(Capability::MainMemory)) {
        Log::error(context.lacking(Capability::MainMemory).c_str());
        return exitFailed;
    }
    CalcStorage* storage = context.storage();
    if (storage == nullptr) {
        return exitFailed;
    }
    const std::string device = context.device();
    bool allDone = true;
    for (size_t i = 0; i < paths.size() && !Interruption::happened(); ++i) {
        std::string why;
        const Outcome outcome = storage->remove(device, paths[i], &why);
        if (outcome == Outcome::Interrupted) {
            return exitFailed;
        }
        if (outcome != Outcome::Done) {
            Log::error((names[i] + ": not deleted: " + why).c_str());
            allDone = false;
        }
    }
    return allDone ? exitDone : exitFailed;
}
