#pragma once

#include "CasioScreenReader.h"

#include <cstdio>

// A picture of the calculator's screen as a PNG file, through libpng: 8-bit RGB, each pixel
// enlarged to a square of `scale` x `scale` (PictureScale).
class PngWriter {
public:
    // Writes the whole file to `file` and flushes it. False when it could not be written whole
    // (an invalid scale, or a write that failed: errno then tells why).
    static bool write(FILE* file, const CasioScreenPicture& picture, int scale);
};
