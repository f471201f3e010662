#pragma once

#include "Commands.h"

// tolvane free: the free bytes of a storage device, a tab, its name.
int runFree(CommandContext& context);
