#include "VerifyCommand.h"

#include "BackupFolder.h"
#include "CasioMainMemory.h"
#include "CalcContents.h"
#include "Log.h"
#include "StandardOutput.h"

#include <set>

const CommandHelp verifyHelp = {
    "compare the calculator with a backup",
    "Compares the calculator's files and main memory's items with the backup in DIR\n"
    "(made by tolvane backup), by name and size, changing neither, after checking the\n"
    "backup whole. Prints a line for each difference, as diff does: -SIZE<tab>PATH\n"
    "for a file (DEVICE/NAME) or item (main/PATH) of the backup the calculator lacks\n"
    "or holds at another size, +SIZE<tab>PATH for what the calculator holds instead.\n"
    "Exit status 0 only when there is none.",
    {noEjectOption}};

namespace {

// "-" for the backup's side, "+" for the calculator's.
void printDifference(char side, const StoredFile& file) {
    StandardOutput::printLine(side + std::to_string(file.size) + "\t" + file.device + "/" +
                              CalcPath::printable(file.name));
}

void printDifference(char side, const StoredItem& item) {
    StandardOutput::printLine(side + std::to_string(item.size) + "\t" +
                              std::string(CalcPath::mainMemory) + "/" +
                              CalcPath::printable(item.path));
}

// Items travel in whole words: one held padded is the same item.
bool sameSize(uint64_t held, uint64_t backedUp) {
    return held == backedUp ||
           held == CasioMainMemory::paddedSize(static_cast<uint32_t>(backedUp));
}

// Main memory's items against the backup's; false when any differs.
bool sameItems(const BackupManifest& manifest, const CalcContents& contents) {
    bool same = true;
    std::set<std::string> backedUp;
    for (const StoredItem& item : manifest.items) {
        backedUp.insert(item.path);
        const StoredItem* there = contents.find(item);
        if (there == nullptr || !sameSize(there->size, item.size)) {
            printDifference('-', item);
            same = false;
        }
        if (there != nullptr && !sameSize(there->size, item.size)) {
            printDifference('+', *there);
        }
    }
    for (const StoredItem& item : contents.items) {
        if (backedUp.count(item.path) == 0) {
            printDifference('+', item);
            same = false;
        }
    }
    return same;
}

} // namespace

std::optional<int> VerifyCommand::check(const CommandLine& line) {
    folder = line.operands()[0];
    if (folder.empty()) {
        Log::error("verify needs the backup's folder");
        return exitUsage;
    }
    if (!BackupFolder::check(folder, &manifest)) {
        Log::error(("Nothing compared: " + folder + " is no whole backup").c_str());
        return exitFailed;
    }
    return std::nullopt;
}

int VerifyCommand::run(CommandContext& context) const {
    CalcStorage* storage = context.storage();
    CalcContents contents;
    if (storage == nullptr || !contents.read(storage)) {
        return exitFailed;
    }
    for (const std::string& device : manifest.devices) {
        if (!contents.holds(device)) {
            Log::warning((device + ": in the backup, and not on the calculator").c_str());
        }
    }
    bool same = true;
    std::set<std::string> backedUp;
    for (const StoredFile& file : manifest.files) {
        if (file.device == CalcPath::mainMemory) {
            continue; // its items are compared one by one
        }
        backedUp.insert(contents.keyOf(file));
        const StoredFile* there = contents.find(file);
        if (there == nullptr || there->size != file.size) {
            printDifference('-', file);
            same = false;
        }
        if (there != nullptr && there->size != file.size) {
            printDifference('+', *there);
        }
    }
    for (const StoredFile& file : contents.files) {
        if (backedUp.count(contents.keyOf(file)) == 0) {
            printDifference('+', file);
            same = false;
        }
    }
    same = sameItems(manifest, contents) && same;
    return StandardOutput::finish() && same ? exitDone : exitFailed;
}
