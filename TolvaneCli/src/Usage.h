#pragma once

#include "Commands.h"

#include <cstdio>

// The help texts, made from the command table.
class Usage {
public:
    static void printProgram(FILE* stream);
    static void printCommand(const Command& command, FILE* stream);
    // One line saying what is wrong, then the usage, on standard error.
    static int reject(const std::string& problem, const Command* command);
    // The usage, on standard error, after a command has said what is wrong.
    static int remind(const Command& command);
};
