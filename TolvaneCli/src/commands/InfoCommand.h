#pragma once

#include "Commands.h"

// tolvane info: what the calculator is, one "Label: value" line per field.
extern const CommandHelp infoHelp;

class InfoCommand final : public CommandTask {
public:
    int run(CommandContext& context) const override;
};
