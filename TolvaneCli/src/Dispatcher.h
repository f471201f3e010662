#pragma once

#include "Commands.h"

#include <string>

// Which calculators a command works on, as the user chose them.
struct CalcTarget {
    std::string chosen; // an address or a serial (-c, TOLVANE_CALCULATOR); empty: the only one
    bool all = false;   // --all: every attached calculator at once
};

// Runs a command as its entry in the table says: checks its operands and local files with
// nothing reaching a calculator, then runs it on the calculator chosen, or on every one at
// once, each on a thread of its own, with what the entry needs for each calculator's kind: its
// files (see CalcStorage), or its link device. Every session is ended and every drive left as
// its calculator needs it, whatever happened. Signals are handled here too.
class Dispatcher {
public:
    // The exit status.
    static int run(const Command& command, const CommandLine& line, const CalcTarget& target);
};
