#pragma once

#include "CalcPath.h"
#include "Commands.h"
#include "LocalTarget.h"

#include <vector>

// tolvane get: copies files from the calculator, or items of its main memory as .g1m files,
// each put in place whole or not at all; a local file is never replaced without -w. Every target is
// examined before the calculator is reached.
extern const CommandHelp getHelp;

class GetCommand final : public CommandTask {
public:
    std::optional<int> check(const CommandLine& line) override;
    int run(CommandContext& context) const override;

private:
    struct Download {
        std::string shown; // the name as the user gave it
        CalcPath source;
        LocalTarget target;
    };

    // Where each name goes, in `folder` when it is given; false after saying why the targets
    // can't be written, for those that can't.
    std::vector<Download> targets(const std::string& folder, bool* allWritable) const;

    std::vector<std::string> names;
    std::vector<CalcPath> sources;
    bool whole = false;     // every item of main memory, into one .g1m file
    std::string output;     // -o; empty: the current folder
    bool intoFolder = true; // `output` is a folder (or empty)
    bool toStandardOutput = false;
    bool replace = false;
};
