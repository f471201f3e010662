#pragma once

#include "Commands.h"

#include <string>

// Which calculators a command works on, as the user chose them.
struct CalcTarget {
    std::string chosen; // an address or a serial (-c, TOLVANE_CALCULATOR); empty: the only one
    bool all = false;   // --all: every attached calculator at once
};

// Runs a command as its entry in the table says: checks its operands and local files with
// nothing reaching a calculator, opens what it needs on the calculator chosen (or on every
// one, each in a session of its own on a thread of its own), and ends every session whatever
// happened. Signals are handled here too.
class Dispatcher {
public:
    // The exit status.
    static int run(const Command& command, const CommandLine& line, const CalcTarget& target);
    // The status a link that could not be opened ends a command with: a usage error, after
    // listing the calculators, when the choice was the user's to make.
    static int cannotOpen(const Link& link);
};
