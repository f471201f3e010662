#pragma once

#include "CalcFinder.h"
#include "CalcStorage.h"
#include "CommandLine.h"
#include "LinkDevice.h"
#include "ScreenFeed.h"

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
    Storage, // the calculator's files: a link calculator's storage in a session, or a drive
             // calculator's mounted file system, as its kind is (see CalcStorage)
    Device,  // the link device of a calculator in its USB receive mode, opened
    Screen,  // what the calculator's screen shows, whatever its kind (see CalcScreen)
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
    'd', "storage", "DEV",
    "fls0, the internal flash (the default),\ncrd0, the SD card, or main, the main\nmemory's "
    "items (programs, lists, ...)"};
// Whether `name` is a storage device of the calculators: fls0, crd0 or main.
bool isStorageDevice(const std::string& name);

// The option of every command that works on a drive calculator's files.
inline constexpr OptionSpec noEjectOption = {
    '\0', "no-eject", nullptr,
    "on a calculator that connects as a USB drive,\nleave it mounted afterwards"};

// Where each run puts its local files with --all.
enum class OwnFolder {
    None,  // where the command line says
    Made,  // into a folder of the calculator's own, made before the run
    Named, // a folder of the calculator's own, which the run puts there itself, whole
};

// What a command is given when it runs: its command line, the calculator it runs on, and what
// its entry in the table of commands needs, from the dispatcher.
class CommandContext {
public:
    CommandContext(const CommandLine& line, const CalcDescription& calculator,
                   std::string outputFolder = "")
        : line(line), calculator(calculator), outputFolder(std::move(outputFolder)) {}

    // The storage device named with -d, fls0 by default.
    std::string device() const;
    // Needs::Storage: the calculator's files, reached on the first call (so that a command can
    // check its local files first); null, after saying why, when they can't be.
    CalcStorage* storage();
    // Needs::Storage: what the calculator has, known without reaching it.
    bool has(Capability capability) const { return files->has(capability); }
    std::string lacking(Capability capability) const { return files->lacking(capability); }
    // Needs::Device: the open device's socket.
    Socket* socket() { return linkDevice->socket(); }
    // Needs::Screen: the pictures the calculator sends.
    ScreenFeed& screen() { return *pictures; }
    // Needs::Device, for a command that reads on until a signal: after the calculator went
    // away, waits for it to come back and opens it again. False, after saying why, when it is
    // there but can't be opened, or a signal ended the wait.
    bool reopen();

    // For the dispatcher.
    void provide(CalcStorage* storage) { files = storage; }
    void provide(LinkDevice* device) { linkDevice = device; }
    void provide(ScreenFeed* feed) { pictures = feed; }
    // Whether the calculator's files were reached, and must be finished with.
    bool storageReached() const { return filesOpen; }

    const CommandLine& line;
    const CalcDescription& calculator; // blank for Needs::Nothing
    // Where this run's local files go: empty to go where the command line says; with --all, a
    // folder of the calculator's own (named after its address) under -o's folder or the
    // current one, made already or not, as its entry says.
    const std::string outputFolder;

private:
    CalcStorage* files = nullptr;
    bool filesTried = false;
    bool filesOpen = false;
    LinkDevice* linkDevice = nullptr;
    ScreenFeed* pictures = nullptr;
};

// Says why no calculator could be had (`choice`, for the user's `chosen` calculator, or the
// `calculator` found); the exit status: a usage error, after listing the calculators, when the
// choice was the user's to make.
int refuseChoice(CalcChoice choice, const std::string& chosen, const CalcDescription& calculator);

// One run of a command, in two steps: `check` with nothing reaching a calculator yet (the
// operands and local files), then `run` once for each calculator, with what its entry in the
// table needs.
class CommandTask {
public:
    virtual ~CommandTask() = default;

    // The exit status to end with before any calculator is reached, after saying why; nothing
    // to go on. The count of operands and the storage device have been checked already.
    virtual std::optional<int> check(const CommandLine& /*line*/) { return std::nullopt; }
    // On several calculators at once, from a thread each.
    virtual int run(CommandContext& context) const = 0;
    // For OnSignal::TaskSays, once checked: whether a signal is the normal way to stop this run.
    virtual bool signalFinishes() const { return false; }
    // Needs::Device, once checked: whether a calculator not attached is waited for.
    virtual bool waitsForCalculator() const { return false; }
    // Once checked: whether this run needs a calculator at all (a command may work on local
    // files alone, as `list FILE.g1m` does).
    virtual bool needsCalculator() const { return true; }
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
    // With --all, where each run's files go.
    OwnFolder ownFolder;
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
