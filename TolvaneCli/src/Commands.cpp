#include "Commands.h"

#include "BackupCommand.h"
#include "CalcList.h"
#include "DeleteCommand.h"
#include "DevicesCommand.h"
#include "FreeCommand.h"
#include "GetCommand.h"
#include "InfoCommand.h"
#include "Interruption.h"
#include "ListCommand.h"
#include "Log.h"
#include "LogCommand.h"
#include "OptimizeCommand.h"
#include "RestoreCommand.h"
#include "ScreenCommand.h"
#include "SendCommand.h"
#include "VerifyCommand.h"

namespace {

constexpr size_t any = static_cast<size_t>(-1);

const char* const storageDevices[] = {"fls0", "crd0", "main"};

// clang-format off
const std::vector<Command> table = {
    // name       task                       needs           on a signal          own folder        operands fewest most help
    {"info",     makeTask<InfoCommand>,     Needs::Storage, OnSignal::Interrupt, OwnFolder::None,  "",        0,   0,   infoHelp},
    {"list",     makeTask<ListCommand>,     Needs::Storage, OnSignal::Interrupt, OwnFolder::None,  "[FILE...]", 0, any, listHelp},
    {"free",     makeTask<FreeCommand>,     Needs::Storage, OnSignal::Interrupt, OwnFolder::None,  "",        0,   0,   freeHelp},
    {"get",      makeTask<GetCommand>,      Needs::Storage, OnSignal::Interrupt, OwnFolder::Made,  "[NAME...]", 0, any, getHelp},
    {"send",     makeTask<SendCommand>,     Needs::Storage, OnSignal::Interrupt, OwnFolder::None,  "FILE...", 1,   any, sendHelp},
    {"delete",   makeTask<DeleteCommand>,   Needs::Storage, OnSignal::Interrupt, OwnFolder::None,  "NAME...", 1,   any, deleteHelp},
    {"optimize", makeTask<OptimizeCommand>, Needs::Storage, OnSignal::Interrupt, OwnFolder::None,  "",        0,   0,   optimizeHelp},
    {"backup",   makeTask<BackupCommand>,   Needs::Storage, OnSignal::Interrupt, OwnFolder::Named, "",        0,   0,   backupHelp},
    {"restore",  makeTask<RestoreCommand>,  Needs::Storage, OnSignal::Interrupt, OwnFolder::None,  "DIR",     1,   1,   restoreHelp},
    {"verify",   makeTask<VerifyCommand>,   Needs::Storage, OnSignal::Interrupt, OwnFolder::None,  "DIR",     1,   1,   verifyHelp},
    {"log",      makeTask<LogCommand>,      Needs::Device,  OnSignal::Finish,    OwnFolder::None,  "",        0,   0,   logHelp},
    {"screen",   makeTask<ScreenCommand>,   Needs::Screen,  OnSignal::TaskSays,  OwnFolder::None,  "",        0,   0,   screenHelp},
    {"devices",  makeTask<DevicesCommand>,  Needs::Nothing, OnSignal::Interrupt, OwnFolder::None,  "",        0,   0,   devicesHelp},
};
// clang-format on

} // namespace

int refuseChoice(CalcChoice choice, const std::string& chosen, const CalcDescription& calculator) {
    if (choice == CalcChoice::IsDrive) {
        Log::error((std::string(calculator.address) +
                    " connects as a USB drive: this command needs a calculator in its USB "
                    "receive mode")
                       .c_str());
        return exitFailed;
    }
    Log::error(CalcList::whatToDo(choice, chosen).c_str());
    if (choice != CalcChoice::SeveralAttached && choice != CalcChoice::Ambiguous) {
        return exitFailed;
    }
    CalcList::print(stderr, "  ");
    return exitUsage;
}

bool isStorageDevice(const std::string& name) {
    for (const char* device : storageDevices) {
        if (name == device) {
            return true;
        }
    }
    return false;
}

std::string CommandContext::device() const {
    return line.value("storage", "fls0");
}

CalcStorage* CommandContext::storage() {
    if (!filesTried) {
        filesTried = true;
        filesOpen = files->open();
    }
    return filesOpen ? files : nullptr;
}

bool CommandContext::reopen() {
    CalcDescription found{};
    const CalcChoice choice = linkDevice->open(&found);
    if (choice != CalcChoice::Opened && !Interruption::happened()) {
        refuseChoice(choice, linkDevice->chosenBy(), found);
    }
    return choice == CalcChoice::Opened;
}

const std::vector<OptionSpec>& commonOptions() {
    static const std::vector<OptionSpec> options = {
        {'c', "calculator", "ADDRESS",
         "the calculator to use, by its address (see\ntolvane devices) or serial; the default\n"
         "is $TOLVANE_CALCULATOR, or the only one"},
        {'\0', "all", nullptr,
         "every attached calculator at once, link and\ndrive alike, each in its own session "
         "(not\nfor log, screen, devices)"},
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
