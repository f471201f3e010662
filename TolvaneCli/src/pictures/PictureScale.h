#pragma once

#include "CasioScreenReader.h"

// Enlarging a picture of the calculator's screen by a whole factor, each pixel becoming a
// square of `scale` x `scale`, so that it stays sharp.
class PictureScale {
public:
    static constexpr int smallest = 1;
    static constexpr int largest = 8;

    static bool isValid(int scale) { return scale >= smallest && scale <= largest; }
    // Row `y` of the picture, enlarged across: width x scale pixels of 3 bytes into `row`.
    static void widenRow(const CasioScreenPicture& picture, int y, int scale, unsigned char* row);
};
