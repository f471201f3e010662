#pragma once

#include "CalcFinder.h"

#include <cstdio>
#include <string>
#include <vector>

// The calculators attached now, as `tolvane devices` shows them.
class CalcList {
public:
    // Every attached calculator, in the order of their addresses; empty when the bus cannot be
    // read (after saying so).
    static std::vector<CalcDescription> attached();
    // Those a session can be opened with: the link calculators.
    static std::vector<CalcDescription> linkCalculators();
    // One line for a calculator, tab-separated: address, kind, product, serial, then "busy"
    // when another program holds a link calculator, and a drive calculator's state: "mounted"
    // and where, or "unmounted".
    static std::string line(const CalcDescription& calc);
    // Every attached calculator, one line each after `indent`.
    static void print(FILE* stream, const char* indent);
};
