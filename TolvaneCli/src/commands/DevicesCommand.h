#pragma once

#include "Commands.h"

// tolvane devices: one line per calculator attached, without opening any.
extern const CommandHelp devicesHelp;

class DevicesCommand final : public CommandTask {
public:
    int run(CommandContext& context) const override;
};
