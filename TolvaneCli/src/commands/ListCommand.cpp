#include "ListCommand.h"

#include "CasioStorage.h"
#include "Log.h"
#include "StandardOutput.h"

const CommandHelp listHelp = {
    "list the files on a storage device",
    "Prints one line per file, in the calculator's order: its size in bytes, a tab,\n"
    "and its path (NAME, or FOLDER/NAME for a file in a folder).",
    {storageOption, noEjectOption}};

namespace {

// One line per file whatever the calculator calls it: control characters show as '?'.
std::string printable(std::string shown) {
    for (char& character : shown) {
        const auto byte = static_cast<unsigned char>(character);
        if (byte < 0x20 || byte == 0x7F) {
            character = '?';
        }
    }
    return shown;
}

std::string textOf(const Buffer& text) {
    return std::string(reinterpret_cast<const char*>(text.getData()), text.getSize());
}

class ListPrinter final : public CasioFileLister {
public:
    void fileListed(const CasioFileEntry& entry) override {
        const std::string folder = printable(textOf(entry.folder));
        StandardOutput::printLine(std::to_string(entry.size) + "\t" +
                                  (folder.empty() ? "" : folder + "/") +
                                  printable(textOf(entry.name)));
    }
};

} // namespace

int ListCommand::run(CommandContext& context) const {
    ListPrinter printer;
    const std::string storage = context.storage();
    if (CasioStorage::listFiles(context.socket(), storage.c_str(), &printer)) {
        Log::error(("Can't list the files of " + storage).c_str());
        StandardOutput::finish();
        return exitFailed;
    }
    return StandardOutput::finish() ? exitDone : exitFailed;
}

int ListCommand::runOnDrive(DriveContext& context) const {
    DriveFiles* files = context.files();
    std::vector<DriveFile> listed;
    if (files == nullptr || !files->list(&listed)) {
        return exitFailed;
    }
    for (const DriveFile& file : listed) {
        StandardOutput::printLine(std::to_string(file.size) + "\t" + printable(file.name));
    }
    return StandardOutput::finish() ? exitDone : exitFailed;
}
