#include "Commands.h"

#include "DeleteCommand.h"
#include "FreeCommand.h"
#include "GetCommand.h"
#include "InfoCommand.h"
#include "ListCommand.h"
#include "LogCommand.h"
#include "OptimizeCommand.h"
#include "SendCommand.h"

namespace {

constexpr size_t any = static_cast<size_t>(-1);

const OptionSpec storageOption = {'d', "storage", "DEV",
                                  "fls0, the internal flash (the default),\nor crd0, the SD card"};

const CommandHelp infoHelp = {
    "show what the calculator is",
    "Prints what the calculator tells about itself, one 'Label: value' line each:\n"
    "hardware, processor, OS and boot code versions, flash and RAM, protocol, product\n"
    "and user.",
    {}};

const CommandHelp listHelp = {
    "list the files on a storage device",
    "Prints one line per file, in the calculator's order: its size in bytes, a tab,\n"
    "and its path (NAME, or FOLDER/NAME for a file in a folder).",
    {storageOption}};

const CommandHelp freeHelp = {"show the free bytes of a storage device",
                              "Prints the free bytes of the storage device, a tab, and its name.",
                              {storageOption}};

const CommandHelp getHelp = {
    "copy files from the calculator",
    "Copies each NAME (FILE or FOLDER/FILE on the calculator) into the current\n"
    "folder, under its calculator name. A file lands whole or not at all; a local\n"
    "file is never replaced without -w. The other names are still fetched when one\n"
    "fails.",
    {storageOption,
     {'o', "output", "PATH",
      "where the file goes: a file, a folder, or -\nfor standard output; with several NAMEs,\n"
      "an existing folder"},
     {'w', "overwrite", nullptr, "replace local files of the same name"}}};

const CommandHelp sendHelp = {
    "copy files to the calculator",
    "Sends every FILE in one link session, each under its own base name, into the\n"
    "storage's root or FOLDER. Every FILE is checked before anything is sent. A file\n"
    "already on the calculator is left alone without -w; the others still go.",
    {storageOption,
     {'F', "folder", "FOLDER", "the folder on the calculator (default: the root)"},
     {'w', "overwrite", nullptr, "replace files of the same name on the calculator"},
     {'\0', "no-pipeline", nullptr,
      "wait for each part's acknowledgement before\nsending the next (slower)"}}};

const CommandHelp deleteHelp = {
    "delete files on the calculator",
    "Deletes each NAME (FILE or FOLDER/FILE on the calculator). The other names are\n"
    "still deleted when one fails.",
    {storageOption}};

const CommandHelp optimizeHelp = {
    "compact a storage device",
    "Compacts the storage device, so that the room of deleted files can be used\n"
    "again. A real calculator can take minutes over it; tolvane waits for it.",
    {storageOption}};

const CommandHelp logHelp = {
    "copy what the calculator sends to standard output",
    "Copies every byte the calculator sends to standard output, as it arrives, and\n"
    "nothing else. Ends after two seconds of silence, or with --follow on Ctrl-C or\n"
    "SIGTERM only.",
    {{'f', "follow", nullptr,
      "wait for a calculator, read on through silence,\nand wait again when it is unplugged"}}};

// clang-format off
const std::vector<Command> table = {
    // name       run          needs          on a signal          operands fewest most help
    {"info",     runInfo,     Needs::Link,   OnSignal::Interrupt, "",        0,   0,   infoHelp},
    {"list",     runList,     Needs::Link,   OnSignal::Interrupt, "",        0,   0,   listHelp},
    {"free",     runFree,     Needs::Link,   OnSignal::Interrupt, "",        0,   0,   freeHelp},
    {"get",      runGet,      Needs::Link,   OnSignal::Interrupt, "NAME...", 1,   any, getHelp},
    {"send",     runSend,     Needs::Link,   OnSignal::Interrupt, "FILE...", 1,   any, sendHelp},
    {"delete",   runDelete,   Needs::Link,   OnSignal::Interrupt, "NAME...", 1,   any, deleteHelp},
    {"optimize", runOptimize, Needs::Link,   OnSignal::Interrupt, "",        0,   0,   optimizeHelp},
    {"log",      runLog,      Needs::Device, OnSignal::Finish,    "",        0,   0,   logHelp},
};
// clang-format on

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
    return table;
}

const Command* findCommand(const std::string& name) {
    for (const Command& command : table) {
        if (name == command.name) {
            return &command;
        }
    }
    return nullptr;
}
