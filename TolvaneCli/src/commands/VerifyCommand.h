#pragma once

#include "BackupManifest.h"
#include "Commands.h"

#include <string>

// tolvane verify: compares a calculator with a backup, changing neither: each file missing on
// the calculator, extra on it, or of another size, in lines as diff writes them.
extern const CommandHelp verifyHelp;

class VerifyCommand final : public CommandTask {
public:
    std::optional<int> check(const CommandLine& line) override;
    int run(CommandContext& context) const override;

private:
    std::string folder;
    BackupManifest manifest;
};
