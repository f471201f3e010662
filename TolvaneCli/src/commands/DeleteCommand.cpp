#include "DeleteCommand.h"

#include "CasioStorage.h"
#include "Interruption.h"
#include "Log.h"

const CommandHelp deleteHelp = {
    "delete files on the calculator",
    "Deletes each NAME (FILE or FOLDER/FILE on the calculator). The other names are\n"
    "still deleted when one fails.",
    {storageOption, noEjectOption}};

std::optional<int> DeleteCommand::check(const CommandLine& line) {
    names = line.operands();
    if (!CalcPath::parseAll(names, &paths)) {
        return exitUsage;
    }
    return std::nullopt;
}

int DeleteCommand::run(CommandContext& context) const {
    Socket* socket = context.socket();
    const std::string storage = context.storage();
    bool allDone = true;
    for (size_t i = 0; i < paths.size() && !Interruption::happened(); ++i) {
        int refusal = CasioStorage::notRefused;
        const char* ended = sessionEnded(socket);
        if (ended != nullptr ||
            CasioStorage::deleteFile(socket, paths[i].folder.c_str(), paths[i].name.c_str(),
                                     storage.c_str(), &refusal)) {
            const char* why = ended != nullptr ? ended : CasioStorage::refusalReason(refusal);
            Log::error((names[i] + ": not deleted: " + why).c_str());
            allDone = false;
        }
    }
    return allDone ? exitDone : exitFailed;
}

int DeleteCommand::runOnDrive(DriveContext& context) const {
    DriveFiles* files = context.files();
    if (files == nullptr) {
        return exitFailed;
    }
    bool allDone = true;
    for (size_t i = 0; i < names.size() && !Interruption::happened(); ++i) {
        allDone = files->remove(names[i]) && allDone;
    }
    return allDone ? exitDone : exitFailed;
}
