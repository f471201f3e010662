#include "VerifyCommand.h"

#include "BackupFolder.h"
#include "CalcContents.h"
#include "Log.h"
#include "StandardOutput.h"

#include <set>

const CommandHelp verifyHelp = {
    "compare the calculator with a backup",
    "Compares the calculator's files with the backup in DIR (made by tolvane backup),\n"
    "by name and size, changing neither, after checking the backup whole. Prints a\n"
    "line for each difference, as diff does: -SIZE<tab>DEVICE/NAME for a file of the\n"
    "backup the calculator lacks or holds at another size, +SIZE<tab>DEVICE/NAME for\n"
    "what the calculator holds instead. Exit status 0 only when there is none.",
    {noEjectOption}};

namespace {

// "-" for the backup's side, "+" for the calculator's.
void printDifference(char side, const StoredFile& file) {
    StandardOutput::printLine(side + std::to_string(file.size) + "\t" + file.device + "/" +
                              CalcPath::printable(file.name));
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
    return StandardOutput::finish() && same ? exitDone : exitFailed;
}
