#pragma once

#include "Commands.h"

#include <sys/types.h>
#include <vector>

// tolvane send: copies files into the calculator, all in one session, each under its own base
// name. Every local file is checked before the calculator is asked anything.
extern const CommandHelp sendHelp;

class SendCommand final : public CommandTask {
public:
    struct LocalFile {
        std::string path;
        std::string name; // its name on the calculator: the base name
        off_t size;       // as checked, before anything was sent
    };

    std::optional<int> check(const CommandLine& line) override;
    int run(CommandContext& context) const override;
    int runOnDrive(DriveContext& context) const override;

private:
    std::vector<LocalFile> files;
};
