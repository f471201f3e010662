#pragma once

#include "Commands.h"

// tolvane delete: removes files from the calculator, all in one link session.
int runDelete(CommandContext& context);
