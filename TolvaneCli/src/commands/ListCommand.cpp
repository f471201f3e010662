#include "ListCommand.h"

#include "G1mFile.h"
#include "Log.h"
#include "StandardOutput.h"

#include <cstdio>

const CommandHelp listHelp = {
    "list the files on a storage device, or the items of main memory",
    "Prints one line per file, in the calculator's order: its size in bytes, a tab,\n"
    "and its path (NAME, or FOLDER/NAME for a file in a folder). With -d main, one\n"
    "line per item of main memory: its size and its path (GROUP/NAME, as PROGRAM/GAME).\n"
    "Given .g1m files, the items each holds, with no calculator.",
    {storageOption,
     {'l', "long", nullptr, "items with their type and directory too:\nSIZE TYPE DIRECTORY PATH"},
     noEjectOption}};

namespace {

// SIZE<tab>PATH, or with the type (two hex digits, - where unknown) and the directory between.
std::string lineOf(const CalcFile& file, bool detailed) {
    std::string line = std::to_string(file.size) + "\t";
    if (detailed) {
        char type[4] = "-";
        if (file.type >= 0) {
            snprintf(type, sizeof type, "%02X", static_cast<unsigned>(file.type & 0xFF));
        }
        line += std::string(type) + "\t" +
                (file.directory.empty() ? "-" : CalcPath::printable(file.directory)) + "\t";
    }
    return line + CalcPath::printable(file.name);
}

} // namespace

std::optional<int> ListCommand::check(const CommandLine& line) {
    files = line.operands();
    detailed = line.has("long");
    if (!files.empty() && line.has("storage")) {
        Log::error("list FILE.g1m reads the files given: -d is not for it");
        return exitUsage;
    }
    return std::nullopt;
}

int ListCommand::run(CommandContext& context) const {
    if (!files.empty()) {
        return listFiles();
    }
    CalcStorage* storage = context.storage();
    if (storage == nullptr) {
        return exitFailed;
    }
    const std::string device = context.device();
    std::string why;
    const bool detail = detailed;
    const auto print = [detail](const CalcFile& file) {
        StandardOutput::printLine(lineOf(file, detail));
    };
    if (!storage->list(device, print, &why)) {
        const bool items = device == CalcPath::mainMemory;
        Log::error(((items ? "Can't list the items of main memory: "
                           : "Can't list the files of " + device + ": ") +
                    why)
                       .c_str());
        StandardOutput::finish();
        return exitFailed;
    }
    return StandardOutput::finish() ? exitDone : exitFailed;
}

// Each file's items, after the file's name and a tab when there are several.
int ListCommand::listFiles() const {
    bool allRead = true;
    for (const std::string& file : files) {
        std::vector<MemoryItem> items;
        std::string problem;
        if (!G1mFile::read(file, &items, &problem)) {
            Log::error((file + ": " + problem).c_str());
            allRead = false;
            continue;
        }
        const std::string prefix = files.size() > 1 ? file + "\t" : "";
        for (const MemoryItem& item : items) {
            StandardOutput::printLine(
                prefix + lineOf({item.path, item.size, item.type, item.directory}, detailed));
        }
    }
    return StandardOutput::finish() && allRead ? exitDone : exitFailed;
}
