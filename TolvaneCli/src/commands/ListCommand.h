#pragma once

#include "Commands.h"

// tolvane list: every file of a storage device, its size, a tab, its path.
extern const CommandHelp listHelp;

class ListCommand final : public CommandTask {
public:
    int run(CommandContext& context) const override;
};
