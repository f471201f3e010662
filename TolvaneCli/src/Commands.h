#pragma once

#include "CommandLine.h"
#include "Link.h"

#include <string>
#include <vector>

enum ExitStatus {
    exitDone = 0,
    exitFailed = 1,
    exitUsage = 2,
};

// What a command is given: its command line, and the link, which the program opens when the
// command first asks for it and closes after the command, however it ends.
class CommandContext {
public:
    CommandContext(const CommandLine& line, Link& link) : line(line), link(link) {}

    // The storage device named with -d, fls0 by default.
    std::string storage() const;
    // The open link, or null after reporting why it could not be opened.
    Socket* openLink();

    const CommandLine& line;
    Link& link;
};

using CommandFunction = int (*)(CommandContext& context);

// What the program must provide around a command.
enum class Needs {
    Link,   // the protocol, opened on the command's first request and closed after it
    Device, // the device alone: the command opens and closes it itself
};

// What a signal means to a command.
enum class OnSignal {
    Interrupt, // the work was cut short: exit 128 + the signal's number
    Finish,    // the normal way to stop it
};

// What the help says of a command, and the options it takes.
struct CommandHelp {
    const char* summary;
    const char* description;
    std::vector<OptionSpec> options;
};

// One entry of the table of commands.
struct Command {
    const char* name;
    CommandFunction run;
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
