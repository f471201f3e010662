#pragma once

#include "CalcChooser.h"
#include "CalcFinder.h"

#include <cstdio>
#include <string>
#include <vector>

// The calculators attached now, as `tolvane devices` shows them, and the one a user chose.
class CalcList {
public:
    // Every attached calculator, in the order of their addresses; empty when the bus cannot be
    // read (after saying so).
    static std::vector<CalcDescription> attached();
    // The calculator the user chose, by address or serial (`chosen`), or else the only one
    // attached, whatever its kind, without opening anything: Found, or why not.
    static CalcChoice choose(const std::string& chosen, CalcDescription* calculator);
    // What went wrong with a choice or an opening, and what to do about it.
    static std::string whatToDo(CalcChoice choice, const std::string& chosen);
    // One line for a calculator, tab-separated: address, kind, product, serial, then "busy"
    // when another program holds a link calculator, and a drive calculator's state: "mounted"
    // and where, or "unmounted".
    static std::string line(const CalcDescription& calc);
    // Every attached calculator, one line each after `indent`.
    static void print(FILE* stream, const char* indent);
};
