#pragma once

#include "CalcPath.h"
#include "Commands.h"

#include <vector>

// tolvane delete: deletes each NAME, going on with the others when one fails.
extern const CommandHelp deleteHelp;

class DeleteCommand final : public CommandTask {
public:
    std::optional<int> check(const CommandLine& line) override;
    int run(CommandContext& context) const override;

private:
    std::vector<std::string> names;
    std::vector<CalcPath> paths;
};
