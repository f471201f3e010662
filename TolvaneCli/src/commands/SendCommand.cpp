#include "SendCommand.h"

#include "CalcPath.h"
#include "CasioDataPart.h"
#include "CasioFileSender.h"
#include "CasioMainMemory.h"
#include "G1mFile.h"
#include "Interruption.h"
#include "Log.h"
#include "NameHints.h"
#include "TransferProgress.h"

#include <set>
#include <sys/stat.h>
#include <unistd.h>

const CommandHelp sendHelp = {
    "copy files, or .g1m files' items, to the calculator",
    "Sends every FILE in one link session, each under its own base name, into the\n"
    "storage's root or FOLDER. With -d main, every item of each FILE.g1m into main\n"
    "memory. Every FILE is checked before anything is sent. A file or item already on\n"
    "the calculator is left alone without -w; the others still go.",
    {storageOption,
     {'F', "folder", "FOLDER", "the folder on the calculator (default: the root)"},
     {'w', "overwrite", nullptr, "replace files of the same name on the calculator"},
     {'\0', "no-pipeline", nullptr,
      "wait for each part's acknowledgement before\nsending the next (slower)"},
     noEjectOption}};

namespace {

std::string baseName(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// What keeps the file from being sent; empty when nothing does.
std::string problemWith(FileToSend* file) {
    struct stat status;
    if (stat(file->path.c_str(), &status) != 0) {
        return "no such file";
    }
    if (!S_ISREG(status.st_mode)) {
        return "not a regular file";
    }
    if (access(file->path.c_str(), R_OK) != 0) {
        return "not readable";
    }
    if (status.st_size == 0) {
        return "empty; the calculator takes no empty file";
    }
    if (status.st_size > CasioFileSender::maxFileSize) {
        return std::to_string(status.st_size) + " bytes; the calculator takes " +
               std::to_string(CasioFileSender::maxFileSize) + " at most";
    }
    if (!CalcPath::isPlainName(file->name)) {
        return "its name must be 1 to 255 bytes without control characters";
    }
    file->size = static_cast<uint64_t>(status.st_size);
    return "";
}

// Every file, checked before anything is sent; false after naming each that cannot go.
bool checkAll(const std::vector<std::string>& paths, std::vector<FileToSend>* files) {
    bool sound = true;
    std::set<std::string> names;
    for (const std::string& path : paths) {
        FileToSend file{path, baseName(path), 0, std::nullopt};
        std::string problem = problemWith(&file);
        if (problem.empty() && !names.insert(file.name).second) {
            problem = "another file of the same name is sent too";
        }
        if (!problem.empty()) {
            Log::error((path + ": " + problem).c_str());
            sound = false;
        }
        files->push_back(file);
    }
    return sound;
}

// One line for the files a lost link kept from the calculator, the one under way first.
void reportLost(const std::string& why, const std::vector<FileToSend>& files, size_t from) {
    std::string names;
    for (size_t k = from; k < files.size(); ++k) {
        names += (k > from ? ", " : "") + files[k].shown();
    }
    Log::error((why + "; not sent: " + names).c_str());
}

// The items of every .g1m file, each file read through and checked before anything is sent;
// false after naming each file that is no sound .g1m.
bool checkItems(const std::vector<std::string>& paths, std::vector<FileToSend>* items) {
    bool sound = true;
    std::set<std::string> names;
    for (const std::string& path : paths) {
        std::vector<MemoryItem> found;
        std::string problem;
        if (!G1mFile::read(path, &found, &problem)) {
            Log::error((path + ": " + problem).c_str());
            sound = false;
            continue;
        }
        for (const MemoryItem& item : found) {
            const FileToSend file{path, item.name, item.size, item};
            const std::string key =
                CalcPath::itemText(item.group, item.directory, item.name, item.type,
                                   CalcPath::Detail::DirectoryAndType);
            problem = item.size == 0              ? "empty; the calculator takes no empty item"
                      : !names.insert(key).second ? "another item of the same name is sent too"
                                                  : "";
            if (!problem.empty()) {
                Log::error((file.shown() + ": " + problem).c_str());
                sound = false;
            }
            items->push_back(file);
        }
    }
    return sound;
}

// What main memory has room for, where the calculator tells it; false after saying that the
// items don't fit.
bool itemsFit(CalcStorage* storage, const std::vector<FileToSend>& items) {
    uint64_t needed = 0;
    for (const FileToSend& item : items) {
        needed += CasioMainMemory::paddedSize(static_cast<uint32_t>(item.size));
    }
    uint64_t free = 0;
    std::string why;
    if (!storage->freeSpace(CalcPath::mainMemory, &free, &why) || needed <= free) {
        return true;
    }
    Log::error(("The items need " + std::to_string(needed) + " bytes of main memory, which has " +
                std::to_string(free) + " free: nothing sent")
                   .c_str());
    return false;
}

} // namespace

std::optional<int> SendCommand::check(const CommandLine& line) {
    items = line.value("storage") == CalcPath::mainMemory;
    if (items) {
        if (line.has("folder")) {
            Log::error("Main memory has no folders: -F is not for -d main");
            return exitUsage;
        }
        return checkItems(line.operands(), &files) ? std::nullopt : std::optional<int>(exitUsage);
    }
    const std::string folder = line.value("folder");
    if (line.has("folder") && !CalcPath::isPlainName(folder)) {
        Log::error(("'" + folder +
                    "' is no calculator folder: 1 to 255 bytes, no '/' or control characters, "
                    "not . or ..")
                       .c_str());
        return exitUsage;
    }
    if (!checkAll(line.operands(), &files)) {
        return exitFailed;
    }
    NameHints::warnIfFolderNameLong(folder.c_str());
    for (const FileToSend& file : files) {
        NameHints::warnIfFileNameLong(file.name.c_str());
    }
    return std::nullopt;
}

int SendCommand::run(CommandContext& context) const {
    if (items && !context.has(Capability::MainMemory)) {
        Log::error(context.lacking(Capability::MainMemory).c_str());
        return exitFailed;
    }
    CalcStorage* storage = context.storage();
    if (storage == nullptr || (items && !itemsFit(storage, files))) {
        return exitFailed;
    }
    const std::string device = context.device();
    const SendWay way{context.line.value("folder"), context.line.has("overwrite"),
                      !context.line.has("no-pipeline")};
    bool allDone = true;
    for (size_t k = 0; k < files.size() && !Interruption::happened(); ++k) {
        const FileToSend& file = files[k];
        const std::string label = (items ? "Item " : "File ") + std::to_string(k + 1) + "/" +
                                  std::to_string(files.size()) + " " +
                                  (items ? file.item->path : file.name) + "  ";
        const int size = static_cast<int>(file.size);
        TransferProgress progress(CasioDataPart::partsFor(size), size, label.c_str());
        const auto sent = [&progress](uint64_t bytes) {
            progress.partSent(CasioDataPart::partsFor(static_cast<long long>(bytes)));
        };
        std::string why;
        switch (storage->send(device, file, way, sent, &why)) {
        case Outcome::Done:
            continue;
        case Outcome::Exists:
            Log::error((file.shown() + ": exists on the calculator; -w replaces it").c_str());
            break;
        case Outcome::LinkLost:
            reportLost(why, files, k);
            return exitFailed;
        case Outcome::Interrupted:
            return exitFailed;
        default:
            Log::error((file.shown() + ": not sent: " + why).c_str());
        }
        allDone = false;
    }
    return allDone ? exitDone : exitFailed;
}
