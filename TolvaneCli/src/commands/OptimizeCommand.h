#pragma once

#include "Commands.h"

// tolvane optimize: compacts a storage device, waiting as long as a calculator may take.
extern const CommandHelp optimizeHelp;

class OptimizeCommand final : public CommandTask {
public:
    std::optional<int> check(const CommandLine& line) override;
    int run(CommandContext& context) const override;
};
