#pragma once

#include <string>
#include <vector>

// The shared libraries a 64-bit ELF program names as needed (DT_NEEDED), in order; empty
// when the file is not such a program (a script, a static binary, a missing file).
std::vector<std::string> neededLibraries(const std::string& path);
