#pragma once

#include "Commands.h"

// tolvane info: what the calculator is, one "Label: value" line per field.
int runInfo(CommandContext& context);
