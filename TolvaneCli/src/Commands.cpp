#include "Commands.h"

#include "DeleteCommand.h"
#include "FreeCommand.h"
#include "GetCommand.h"
#include "InfoCommand.h"
#include "ListCommand.h"
#include "OptimizeCommand.h"

namespace {

constexpr size_t any = static_cast<size_t>(-1);

const OptionSpec storageOption = {'d', "storage", "DEV",
                                  "fls0, the internal flash (the default),\nor crd0, the SD card"};

} // namespace

std::string CommandContext::storage() const {
    return line.value("storage", "fls0");
}

Socket* CommandContext::openLink() {
    if (!link.isOpen() && !link.open()) {
        return nullptr;
    }
    return link.socket();
}

const std::vector<OptionSpec>& commonOptions() {
    static const std::vector<OptionSpec> options = {
        {'q', "quiet", nullptr, "print errors only"},
        {'v', "verbose", nullptr, "print the protocol's detail too"},
        {'h', "help", nullptr, "show this help"},
    };
    return options;
}

const std::vector<Command>& commands() {
    static const std::vector<Command> table = {
        {"info",
         runInfo,
         Needs::Link,
         OnSignal::Interrupt,
         "",
         0,
         0,
         "show what the calculator is",
         "Prints what the calculator tells about itself, one 'Label: value' line each:\n"
         "hardware, processor, OS and boot code versions, flash and RAM, protocol, product\n"
         "and user.",
         {}},
        {"list",
         runList,
         Needs::Link,
         OnSignal::Interrupt,
         "",
         0,
         0,
         "list the files on a storage device",
         "Prints one line per file, in the calculator's order: its size in bytes, a tab,\n"
         "and its path (NAME, or FOLDER/NAME for a file in a folder).",
         {storageOption}},
        {"free",
         runFree,
         Needs::Link,
         OnSignal::Interrupt,
         "",
         0,
         0,
         "show the free bytes of a storage device",
         "Prints the free bytes of the storage device, a tab, and its name.",
         {storageOption}},
        {"get",
         runGet,
         Needs::Link,
         OnSignal::Interrupt,
         "NAME...",
         1,
         any,
         "copy files from the calculator",
         "Copies each NAME (FILE or FOLDER/FILE on the calculator) into the current\n"
         "folder, under its calculator name. A file lands whole or not at all; a local\n"
         "file is never replaced without -w. The other names are still fetched when one\n"
         "fails.",
         {storageOption,
          {'o', "output", "PATH",
           "where the file goes: a file, a folder, or -\n"
           "for standard output; with several NAMEs,\n"
           "an existing folder"},
          {'w', "overwrite", nullptr, "replace local files of the same name"}}},
        {"delete",
         runDelete,
         Needs::Link,
         OnSignal::Interrupt,
         "NAME...",
         1,
         any,
         "delete files on the calculator",
         "Deletes each NAME (FILE or FOLDER/FILE on the calculator). The other names are\n"
         "still deleted when one fails.",
         {storageOption}},
        {"optimize",
         runOptimize,
         Needs::Link,
         OnSignal::Interrupt,
         "",
         0,
         0,
         "compact a storage device",
         "Compacts the storage device, so that the room of deleted files can be used again.\n"
         "A real calculator can take minutes over it; tolvane waits for it.",
         {storageOption}},
    };
    return table;
}

const Command* findCommand(const std::string& name) {
    for (const Command& command : commands()) {
        if (name == command.name) {
            return &command;
        }
    }
    return nullptr;
}
