#pragma once

#include "Commands.h"

// tolvane log: copies every byte the calculator sends to standard output, as it arrives.
// It ends after two seconds of silence or, with --follow, on SIGINT or SIGTERM only: it
// waits for a calculator, reads through silence, and waits again when one is unplugged. A
// reader that goes away ends it too.
extern const CommandHelp logHelp;

class LogCommand final : public CommandTask {
public:
    std::optional<int> check(const CommandLine& line) override;
    int run(CommandContext& context) const override;
    bool waitsForCalculator() const override { return following; }

private:
    bool following = false;
};
