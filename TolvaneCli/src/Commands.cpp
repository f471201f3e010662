#include "Commands.h"

#include "DeleteCommand.h"
#include "DevicesCommand.h"
#include "FreeCommand.h"
#include "GetCommand.h"
#include "InfoCommand.h"
#include "ListCommand.h"
#include "Log.h"
#include "LogCommand.h"
#include "OptimizeCommand.h"
#include "ScreenCommand.h"
#include "SendCommand.h"

namespace {

constexpr size_t any = static_cast<size_t>(-1);

// clang-format off
const std::vector<Command> table = {
    // name       task                       needs            on a signal          operands fewest most help
    {"info",     makeTask<InfoCommand>,     Needs::Session,  OnSignal::Interrupt, "",        0,   0,   infoHelp},
    {"list",     makeTask<ListCommand>,     Needs::Session,  OnSignal::Interrupt, "",        0,   0,   listHelp},
    {"free",     makeTask<FreeCommand>,     Needs::Session,  OnSignal::Interrupt, "",        0,   0,   freeHelp},
    {"get",      makeTask<GetCommand>,      Needs::Session,  OnSignal::Interrupt, "NAME...", 1,   any, getHelp},
    {"send",     makeTask<SendCommand>,     Needs::Session,  OnSignal::Interrupt, "FILE...", 1,   any, sendHelp},
    {"delete",   makeTask<DeleteCommand>,   Needs::Session,  OnSignal::Interrupt, "NAME...", 1,   any, deleteHelp},
    {"optimize", makeTask<OptimizeCommand>, Needs::Session,  OnSignal::Interrupt, "",        0,   0,   optimizeHelp},
    {"log",      makeTask<LogCommand>,      Needs::Device,   OnSignal::Finish,    "",        0,   0,   logHelp},
    {"screen",   makeTask<ScreenCommand>,   Needs::Device,   OnSignal::TaskSays,  "",        0,   0,   screenHelp},
    {"devices",  makeTask<DevicesCommand>,  Needs::Nothing,  OnSignal::Interrupt, "",        0,   0,   devicesHelp},
};
// clang-format on

} // namespace

int notForDrives(const CalcDescription& calculator) {
    Log::error((std::string(calculator.address) +
                " connects as a USB drive: this command needs a calculator in its USB receive "
                "mode")
                   .c_str());
    return exitFailed;
}

int CommandTask::runOnDrive(DriveContext& context) const {
    return notForDrives(context.calculator);
}

std::string CommandContext::storage() const {
    return line.value("storage", "fls0");
}

const char* sessionEnded(Socket* socket) {
    if (socket->deviceGone()) {
        return "the calculator was unplugged";
    }
    if (socket->calcIsSilent()) {
        return "the calculator stopped answering";
    }
    if (!socket->sessionUsable()) {
        return "the session with the calculator broke off";
    }
    return nullptr;
}

const std::vector<OptionSpec>& commonOptions() {
    static const std::vector<OptionSpec> options = {
        {'c', "calculator", "ADDRESS",
         "the calculator to use, by its address (see\ntolvane devices) or serial; the default\n"
         "is $TOLVANE_CALCULATOR, or the only one"},
        {'\0', "all", nullptr,
         "every attached calculator at once, each in\nits own session (not for log, "
         "screen,\ndevices)"},
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
