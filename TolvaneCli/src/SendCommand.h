#pragma once

#include "Commands.h"

// tolvane send: copies files into the calculator, all in one link session, each under its
// own base name. Every local file is checked before the calculator is asked anything.
int runSend(CommandContext& context);
