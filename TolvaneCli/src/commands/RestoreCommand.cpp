#include "RestoreCommand.h"

#include "BackupFolder.h"
#include "CasioDataPart.h"
#include "CasioMainMemory.h"
#include "G1mFile.h"
#include "Interruption.h"
#include "Log.h"
#include "TransferProgress.h"

#include <map>

const CommandHelp restoreHelp = {
    "put a backup back onto the calculator",
    "Puts the backup in DIR (made by tolvane backup) onto the calculator: checks\n"
    "its MANIFEST and every file's SHA-256 before the calculator is reached, then,\n"
    "in one session, checks that the files fit, sends each into its storage device\n"
    "and folder and every item into main memory, and lists the calculator again to\n"
    "see that each arrived whole. A file or item the calculator holds already stops\n"
    "it before anything changes, unless -w replaces it. With --all, the same backup\n"
    "onto every calculator.",
    {{'w', "overwrite", nullptr, "replace files of the same name on the calculator"},
     {'\0', "no-pipeline", nullptr,
      "wait for each part's acknowledgement before\nsending the next (slower)"},
     noEjectOption}};

namespace {

// FOLDER of FOLDER/FILE; empty for a file in the root.
std::string folderIn(const std::string& name) {
    const size_t slash = name.find('/');
    return slash == std::string::npos ? "" : name.substr(0, slash);
}

std::string fileIn(const std::string& name) {
    const size_t slash = name.find('/');
    return slash == std::string::npos ? name : name.substr(slash + 1);
}

std::string filesCount(size_t count) {
    return std::to_string(count) + (count == 1 ? " file" : " files");
}

std::string fullPathOf(const MemoryItem& item) {
    return CalcPath::itemText(item.group, item.directory, item.name, item.type,
                              CalcPath::Detail::DirectoryAndType);
}

// Items travel in whole words: one listed padded is the same item.
bool sameSize(uint64_t listed, uint64_t held) {
    return listed == held || listed == CasioMainMemory::paddedSize(static_cast<uint32_t>(held));
}

// One line for the files a lost link kept from the calculator, the one under way first.
void reportLost(const std::string& why, const std::vector<StoredFile>& files, size_t from) {
    std::string names;
    for (size_t k = from; k < files.size(); ++k) {
        names += (k > from ? ", " : "") + files[k].path();
    }
    Log::error((why + "; not restored: " + names).c_str());
}

// Why the calculator can't take `file`; empty when it can.
std::string whyLeftOut(CalcStorage* storage, const CalcContents& before, const StoredFile& file) {
    std::string why;
    if (!before.holds(file.device)) {
        return file.device == "crd0" ? "the calculator has no SD card"
                                     : "the calculator has no such storage device";
    }
    return storage->mayWrite(file.device, folderIn(file.name), &why) ? "" : why;
}

} // namespace

std::optional<int> RestoreCommand::check(const CommandLine& line) {
    folder = line.operands()[0];
    replace = line.has("overwrite");
    if (folder.empty()) {
        Log::error("restore needs the backup's folder");
        return exitUsage;
    }
    if (!BackupFolder::check(folder, &manifest) || !readItems()) {
        Log::error(("Nothing restored: " + folder + " is no whole backup").c_str());
        return exitFailed;
    }
    return std::nullopt;
}

// The items of main memory's .g1m file, which must be those the manifest names.
bool RestoreCommand::readItems() {
    for (const StoredFile& file : manifest.files) {
        if (file.device != CalcPath::mainMemory) {
            continue;
        }
        const std::string path = BackupFolder::pathOf(folder, file);
        std::string problem;
        if (!G1mFile::read(path, &items, &problem)) {
            Log::error((path + ": " + problem).c_str());
            return false;
        }
        bool same = items.size() == manifest.items.size();
        for (size_t k = 0; same && k < items.size(); ++k) {
            same = fullPathOf(items[k]) == manifest.items[k].path &&
                   items[k].size == manifest.items[k].size;
        }
        if (!same) {
            Log::error((path + ": its items are not those of the manifest").c_str());
            return false;
        }
    }
    return true;
}

// The files of the backup that this calculator can take; those of a storage device it lacks or
// of a folder it keeps to itself are said once for each such place, and left out.
RestoreCommand::Plan RestoreCommand::planFor(CalcStorage* storage,
                                             const CalcContents& before) const {
    Plan plan;
    std::map<std::string, std::pair<size_t, std::string>> leftOut; // DEVICE[/FOLDER]: count, why
    for (const StoredFile& file : manifest.files) {
        if (file.device == CalcPath::mainMemory) {
            continue;
        }
        const std::string why = whyLeftOut(storage, before, file);
        if (why.empty()) {
            if (const StoredFile* there = before.find(file)) {
                plan.replacing.push_back(*there);
            }
            plan.sent.push_back(file);
            continue;
        }
        const std::string inFolder = folderIn(file.name);
        auto& place = leftOut[file.device + (inFolder.empty() ? "" : "/" + inFolder)];
        place = {place.first + 1, why};
        plan.allTaken = false;
    }
    for (const auto& [where, place] : leftOut) {
        Log::error(
            (where + ": " + filesCount(place.first) + " not restored: " + place.second).c_str());
    }
    planItems(storage, before, &plan);
    return plan;
}

// Main memory's items, where the calculator has main memory to take them.
void RestoreCommand::planItems(CalcStorage* storage, const CalcContents& before,
                               Plan* plan) const {
    if (items.empty()) {
        return;
    }
    if (!before.holdsItems) {
        Log::error(("main: " + std::to_string(items.size()) +
                    " items not restored: " + storage->lacking(Capability::MainMemory))
                       .c_str());
        plan->allTaken = false;
        return;
    }
    plan->items = items;
    for (const MemoryItem& item : items) {
        if (const StoredItem* there = before.find(StoredItem{fullPathOf(item), item.size})) {
            plan->replacingItems.push_back(*there);
        }
    }
}

bool RestoreCommand::refusesToReplace(const Plan& plan) const {
    const size_t replaced = plan.replacing.size() + plan.replacingItems.size();
    if (replace || replaced == 0) {
        return false;
    }
    for (const StoredFile& file : plan.replacing) {
        Log::error((file.path() + ": exists on the calculator; -w replaces it").c_str());
    }
    for (const StoredItem& item : plan.replacingItems) {
        Log::error(("main/" + CalcPath::printable(item.path) +
                    ": exists on the calculator; -w replaces it")
                       .c_str());
    }
    Log::error(("Nothing restored: " + std::to_string(replaced) +
                " of the backup's files and items would replace the calculator's")
                   .c_str());
    return true;
}

// Each storage device must have room for the files sent there, less those they replace.
bool RestoreCommand::fits(CalcStorage* storage, const Plan& plan) const {
    std::map<std::string, int64_t> needed;
    for (const StoredFile& file : plan.sent) {
        needed[file.device] += static_cast<int64_t>(file.size);
    }
    for (const StoredFile& file : plan.replacing) {
        needed[file.device] -= static_cast<int64_t>(file.size);
    }
    for (const MemoryItem& item : plan.items) {
        needed[CalcPath::mainMemory] += CasioMainMemory::paddedSize(item.size);
    }
    for (const StoredItem& item : plan.replacingItems) {
        needed[CalcPath::mainMemory] -= static_cast<int64_t>(item.size);
    }
    for (const auto& [device, bytes] : needed) {
        uint64_t free = 0;
        std::string why;
        if (!storage->freeSpace(device, &free, &why)) {
            Log::error(("Can't tell the free space of " + device + ": " + why).c_str());
            return false;
        }
        if (bytes > 0 && static_cast<uint64_t>(bytes) > free) {
            Log::error(("Nothing restored: the backup needs " + std::to_string(bytes) +
                        " bytes more on " + device + ", which has " + std::to_string(free) +
                        " free")
                           .c_str());
            return false;
        }
    }
    return true;
}

// Sends each file in turn, and keeps going past one that fails; false when nothing more can
// go (the link lost, Ctrl-C). `done` are the files sent.
bool RestoreCommand::sendAll(CalcStorage* storage, const std::vector<StoredFile>& files,
                             const SendWay& way, std::vector<StoredFile>* done) const {
    int partCount = 0;
    long long bytes = 0;
    for (const StoredFile& file : files) {
        partCount += CasioDataPart::partsFor(static_cast<long long>(file.size));
        bytes += static_cast<long long>(file.size);
    }
    TransferProgress progress(partCount, bytes, "Restore  ");
    int partsBefore = 0;
    for (size_t k = 0; k < files.size(); ++k) {
        const StoredFile& file = files[k];
        const FileToSend local{BackupFolder::pathOf(folder, file), fileIn(file.name), file.size,
                               std::nullopt};
        SendWay into = way;
        into.folder = folderIn(file.name);
        const auto sent = [&progress, partsBefore](uint64_t count) {
            progress.partSent(partsBefore + CasioDataPart::partsFor(static_cast<long long>(count)));
        };
        std::string why;
        const Outcome outcome = Interruption::happened()
                                    ? Outcome::Interrupted
                                    : storage->send(file.device, local, into, sent, &why);
        partsBefore += CasioDataPart::partsFor(static_cast<long long>(file.size));
        if (outcome == Outcome::Done) {
            done->push_back(file);
        } else if (outcome == Outcome::Exists) {
            Log::error((file.path() + ": exists on the calculator; -w replaces it").c_str());
        } else if (outcome == Outcome::LinkLost) {
            reportLost(why, files, k);
            return false;
        } else if (outcome == Outcome::Interrupted) {
            return false;
        } else {
            Log::error((file.path() + ": not restored: " + why).c_str());
        }
    }
    return true;
}

// Each item of main memory's .g1m file into main memory; false when nothing more can go.
bool RestoreCommand::sendItems(CalcStorage* storage, const std::vector<MemoryItem>& items,
                               const SendWay& way) const {
    const std::string file =
        BackupFolder::pathOf(folder, {CalcPath::mainMemory, BackupManifest::mainMemoryFile, 0, ""});
    bool allSent = true;
    for (const MemoryItem& item : items) {
        std::string why;
        const FileToSend local{file, item.name, item.size, item};
        const Outcome outcome = Interruption::happened()
                                    ? Outcome::Interrupted
                                    : storage->send(CalcPath::mainMemory, local, way, nullptr, &why);
        if (outcome == Outcome::Interrupted) {
            return false;
        }
        if (outcome == Outcome::LinkLost) {
            Log::error(("main/" + CalcPath::printable(item.path) + ": not restored: " + why).c_str());
            return false;
        }
        if (outcome != Outcome::Done) {
            Log::error(("main/" + CalcPath::printable(item.path) + ": not restored: " +
                        (outcome == Outcome::Exists ? "it exists on the calculator" : why))
                           .c_str());
            allSent = false;
        }
    }
    return allSent;
}

// Listed again, every file sent is there at its size.
bool RestoreCommand::arrived(CalcStorage* storage, const std::vector<StoredFile>& files,
                             const std::vector<MemoryItem>& sentItems) const {
    CalcContents after;
    if (!after.read(storage)) {
        return false;
    }
    bool all = true;
    for (const MemoryItem& item : sentItems) {
        const StoredItem* there = after.find(StoredItem{fullPathOf(item), item.size});
        if (there == nullptr || !sameSize(there->size, item.size)) {
            Log::error(("main/" + CalcPath::printable(item.path) +
                        ": not in main memory as sent after the restore")
                           .c_str());
            all = false;
        }
    }
    for (const StoredFile& file : files) {
        const StoredFile* there = after.find(file);
        if (there == nullptr) {
            Log::error((file.path() + ": not on the calculator after the restore").c_str());
        } else if (there->size != file.size) {
            Log::error((file.path() + ": the calculator holds " + std::to_string(there->size) +
                        " bytes of it after the restore, the backup " + std::to_string(file.size))
                           .c_str());
        }
        all = all && there != nullptr && there->size == file.size;
    }
    return all;
}

int RestoreCommand::run(CommandContext& context) const {
    CalcStorage* storage = context.storage();
    CalcContents before;
    if (storage == nullptr || !before.read(storage)) {
        return exitFailed;
    }
    const Plan plan = planFor(storage, before);
    if (refusesToReplace(plan) || !fits(storage, plan)) {
        return exitFailed;
    }
    const SendWay way{"", replace, !context.line.has("no-pipeline")};
    std::vector<StoredFile> done;
    if (!sendAll(storage, plan.sent, way, &done)) {
        return exitFailed;
    }
    const bool itemsSent = sendItems(storage, plan.items, way);
    const bool whole = arrived(storage, done, plan.items);
    return whole && itemsSent && done.size() == plan.sent.size() && plan.allTaken ? exitDone
                                                                                   : exitFailed;
}
