#pragma once

#include "Commands.h"

// tolvane get: copies files from the calculator, all in one link session. Each lands whole or
// not at all; a local file is replaced only with -w.
int runGet(CommandContext& context);
