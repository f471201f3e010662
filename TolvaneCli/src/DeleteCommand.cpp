#include "DeleteCommand.h"

#include "CalcPath.h"
#include "CasioStorage.h"
#include "Interruption.h"
#include "Log.h"

int runDelete(CommandContext& context) {
    std::vector<CalcPath> paths;
    for (const std::string& name : context.line.operands()) {
        CalcPath path;
        std::string problem;
        if (!CalcPath::parse(name, &path, &problem)) {
            Log::error(problem.c_str());
            return exitUsage;
        }
        paths.push_back(path);
    }
    Socket* socket = context.openLink();
    if (socket == nullptr) {
        return exitFailed;
    }
    const std::string storage = context.storage();
    bool allDone = true;
    for (size_t i = 0; i < paths.size() && !Interruption::happened(); ++i) {
        int refusal = CasioStorage::notRefused;
        if (CasioStorage::deleteFile(socket, paths[i].folder.c_str(), paths[i].name.c_str(),
                                     storage.c_str(), &refusal)) {
            Log::error((context.line.operands()[i] +
                        ": not deleted: " + CasioStorage::refusalReason(refusal))
                           .c_str());
            allDone = false;
        }
    }
    return allDone ? exitDone : exitFailed;
}
