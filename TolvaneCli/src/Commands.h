#pragma once

#include "CommandLine.h"
#include "DriveContext.h"
#include "Link.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

enum ExitStatus {
    exitDone = 0,
    exitFailed = 1,
    exitUsage = 2,
};

// What the dispatcher provides around a command.
enum class Needs {
    Session, // a session with the calculator, opened before the command runs, ended after it
    Device,  // the link, closed: the command opens the device when there is one, and again
    Nothing, // no calculator at all
};

// What a signal means to a command.
enum class OnSignal {
    Interrupt, // the work was cut short: exit 128 + the signal's number
    Finish,    // the normal way to stop it
    TaskSays,  // one or the other by the command line: CommandTask::signalFinishes tells
};

// What the help says of a command, and the options it takes. Each command's lives beside
// its work, in its own file.
struct CommandHelp {
    const char* summary;
    const char* description;
    std::vector<OptionSpec> options;
};

// The option of every command that works on one storage device.
inline constexpr OptionSpec storageOption = {
    'd', "storage", "DEV", "fls0, the internal flash (the default),\nor crd0, the SD card"};
// The option of every command that works on a drive calculator's files.
inline constexpr OptionSpec noEjectOption = {
    '\0', "no-eject", nullptr,
    "on a calculator that connects as a USB drive,\nleave it mounted afterwards"};

// What a command is given when it runs: its command line, and the link as its entry in the
// table of commands asks.
class CommandContext {
public:
    CommandContext(const CommandLine& line, Link& link, std::string address = "")
        : line(line), link(link), address(std::move(address)) {}

    // The storage device named with -d, fls0 by default.
    std::string storage() const;
    // The session's socket, for a command that needs a session.
    Socket* socket() { return link.socket(); }

    const CommandLine& line;
    Link& link;
    // With --all, the address of the calculator this run is for; empty otherwise.
    const std::string address;
};

// The refusal of a command that needs a calculator in its USB receive mode, for one that
// connects as a USB drive: the exit status, after saying so.
int notForDrives(const CalcDescription& calculator);

// Why no further command can go to the calculator in this session, in words for a user; null
// while commands can still go.
const char* sessionEnded(Socket* socket);

// One run of a command, in two steps: `check` with nothing reaching a calculator yet (the
// operands and local files), then `run` with what its entry in the table needs.
class CommandTask {
public:
    virtual ~CommandTask() = default;

    // The exit status to end with before any calculator is reached, after saying why; nothing
    // to go on. The count of operands and the storage device have been checked already.
    virtual std::optional<int> check(const CommandLine& /*line*/) { return std::nullopt; }
    virtual int run(CommandContext& context) const = 0;
    // The same work on a calculator that connects as a USB drive, on its mounted files; by
    // default, a refusal.
    virtual int runOnDrive(DriveContext& context) const;
    // For OnSignal::TaskSays, once checked: whether a signal is the normal way to stop this run.
    virtual bool signalFinishes() const { return false; }
};

using TaskMaker = std::unique_ptr<CommandTask> (*)();

template <typename Task> std::unique_ptr<CommandTask> makeTask() {
    return std::make_unique<Task>();
}

// One entry of the table of commands.
struct Command {
    const char* name;
    TaskMaker task;
    Needs needs;
    OnSignal onSignal;
    const char* operands; // as the usage line shows them
    size_t fewestOperands;
    size_t mostOperands;
    const CommandHelp& help;
};

// Every command, in the order the help lists them.
const std::vector<Command>& commands();
const Command* findCommand(const std::string& name);

// The options every command takes, and the program before its command.
const std::vector<OptionSpec>& commonOptions();
