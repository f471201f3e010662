#pragma once

#include "Commands.h"

// tolvane list: every file of a storage device, its size, a tab, its path.
int runList(CommandContext& context);
