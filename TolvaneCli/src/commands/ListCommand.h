#pragma once

#include "Commands.h"

#include <string>
#include <vector>

// tolvane list: every file of a storage device, or every item of main memory, its size, a
// tab, its path; or, given .g1m files, the items each holds, with no calculator at all.
extern const CommandHelp listHelp;

class ListCommand final : public CommandTask {
public:
    std::optional<int> check(const CommandLine& line) override;
    int run(CommandContext& context) const override;
    bool needsCalculator() const override { return files.empty(); }

private:
    int listFiles() const;

    std::vector<std::string> files;
    bool detailed = false;
};
