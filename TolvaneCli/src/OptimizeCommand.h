#pragma once

#include "Commands.h"

// tolvane optimize: compacts a storage device, which can keep a calculator busy for minutes.
int runOptimize(CommandContext& context);
