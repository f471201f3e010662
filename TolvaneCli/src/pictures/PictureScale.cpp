#include "PictureScale.h"

#include <cstring>

void PictureScale::widenRow(const CasioScreenPicture& picture, int y, int scale,
                            unsigned char* row) {
    const unsigned char* pixel = picture.rgb + static_cast<size_t>(y) * picture.width * 3;
    for (int x = 0; x < picture.width; ++x, pixel += 3) {
        for (int copy = 0; copy < scale; ++copy, row += 3) {
            memcpy(row, pixel, 3);
        }
    }
}
