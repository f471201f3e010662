#pragma once

#include "Commands.h"

#include <vector>

// tolvane send: copies files into the calculator, all in one session, each under its own base
// name. Every local file is checked before the calculator is asked anything.
extern const CommandHelp sendHelp;

class SendCommand final : public CommandTask {
public:
    std::optional<int> check(const CommandLine& line) override;
    int run(CommandContext& context) const override;

private:
    std::vector<FileToSend> files;
    bool items = false; // -d main: the items of .g1m files
};
