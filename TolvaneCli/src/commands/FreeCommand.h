#pragma once

#include "Commands.h"

// tolvane free: the free bytes of a storage device, a tab, and its name.
extern const CommandHelp freeHelp;

class FreeCommand final : public CommandTask {
public:
    int run(CommandContext& context) const override;
};
