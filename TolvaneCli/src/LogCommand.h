#pragma once

#include "Commands.h"

// tolvane log: copies every byte the calculator sends to standard output, as it arrives.
// It ends after two seconds of silence or, with --follow, on SIGINT or SIGTERM only: it
// waits for a calculator, reads through silence, and waits again when one is unplugged.
int runLog(CommandContext& context);
