#pragma once

#include "CalcPath.h"
#include "Commands.h"
#include "LocalTarget.h"

#include <vector>

// tolvane get: copies files from the calculator, each put in place whole or not at all; a
// local file is never replaced without -w. Every target is examined before the calculator is
// asked anything.
extern const CommandHelp getHelp;

class GetCommand final : public CommandTask {
public:
    std::optional<int> check(const CommandLine& line) override;
    int run(CommandContext& context) const override;

private:
    struct Download {
        std::string shown; // the name as the user gave it
        CalcPath source;
        bool toStandardOutput = false;
        LocalTarget target;
    };

    bool plan(const CommandLine& line);
    bool fetch(Socket* socket, const std::string& storage, const Download& download) const;

    std::vector<Download> downloads;
    bool someRefused = false;
};
