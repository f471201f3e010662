#pragma once

#include "ScreenWire.h"

#include <optional>
#include <string>

// A PNG file's pixels as RGB, read with libpng: any colour type and depth, composed over
// black where it has transparency. Nothing, and `error` says why, when the file cannot be read
// or is wider or taller than `largestSide`.
std::optional<screenwire::Picture> readPngPicture(const std::string& path, unsigned largestSide,
                                                  std::string& error);
