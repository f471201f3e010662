#include "Y4mWriter.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <unistd.h>

namespace {

constexpr char frameMarker[] = "FRAME\n";
constexpr size_t markerSize = sizeof frameMarker - 1;

struct Yuv {
    unsigned char y, cb, cr;
};

constexpr Yuv black = {16, 128, 128};

// BT.601 in limited range (Y 16 to 235), what players and encoders assume of a YUV4MPEG2
// stream that says nothing else: black, white and the greys come out exact, and the colours
// within a step.
Yuv toYuv(const unsigned char* rgb) {
    const int red = rgb[0];
    const int green = rgb[1];
    const int blue = rgb[2];
    return {static_cast<unsigned char>(16 + ((66 * red + 129 * green + 25 * blue + 128) >> 8)),
            static_cast<unsigned char>(128 + ((-38 * red - 74 * green + 112 * blue + 128) >> 8)),
            static_cast<unsigned char>(128 + ((112 * red - 94 * green - 18 * blue + 128) >> 8))};
}

} // namespace

Y4mWriter::Y4mWriter(FILE* output, int width, int height, int scale, int framesPerSecond)
    : output(output), width(width * scale), height(height * scale), scale(scale),
      framesPerSecond(framesPerSecond),
      frame(markerSize + static_cast<size_t>(this->width) * this->height * 3) {
    memcpy(frame.data(), frameMarker, markerSize);
}

// Chroma at full resolution (C444): a calculator's screen is pixel art, sharp edges between
// flat colours, and halving the chroma would smear every coloured edge over its neighbour.
// With it, each enlarged pixel keeps its colour exactly as converted.
std::string Y4mWriter::header() const {
    return "YUV4MPEG2 W" + std::to_string(width) + " H" + std::to_string(height) + " F" +
           std::to_string(framesPerSecond) + ":1 Ip A1:1 C444\n";
}

bool Y4mWriter::writeFrame(const CasioScreenPicture& picture) {
    if (!headerWritten) {
        const std::string text = header();
        if (!writeAll(text.data(), text.size())) {
            return false;
        }
        headerWritten = true;
    }
    draw(picture);
    return writeAll(frame.data(), frame.size());
}

// Straight to the descriptor, going on after a signal: a stream stopped by Ctrl-C still ends
// with whole frames.
bool Y4mWriter::writeAll(const void* bytes, size_t size) {
    if (fflush(output) != 0) {
        return false;
    }
    const char* next = static_cast<const char*>(bytes);
    while (size > 0) {
        const ssize_t written = write(fileno(output), next, size);
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            return false;
        }
        next += written;
        size -= static_cast<size_t>(written);
    }
    return true;
}

// Each pixel is converted once, then repeated across its square in the three planes.
void Y4mWriter::draw(const CasioScreenPicture& picture) {
    const size_t planeSize = static_cast<size_t>(width) * height;
    unsigned char* planes[3] = {frame.data() + markerSize, frame.data() + markerSize + planeSize,
                                frame.data() + markerSize + 2 * planeSize};
    const bool fills = picture.width * scale == width && picture.height * scale == height;
    if (!fills) {
        memset(planes[0], black.y, planeSize);
        memset(planes[1], black.cb, planeSize);
        memset(planes[2], black.cr, planeSize);
    }
    const int columns = std::min(picture.width, width / scale);
    const int rows = std::min(picture.height, height / scale);
    for (int y = 0; y < rows; ++y) {
        const size_t rowStart = static_cast<size_t>(y) * scale * width;
        const unsigned char* pixel = picture.rgb + static_cast<size_t>(y) * picture.width * 3;
        size_t at = rowStart;
        for (int x = 0; x < columns; ++x, pixel += 3) {
            const Yuv colour = toYuv(pixel);
            for (int copy = 0; copy < scale; ++copy, ++at) {
                planes[0][at] = colour.y;
                planes[1][at] = colour.cb;
                planes[2][at] = colour.cr;
            }
        }
        for (int plane = 0; plane < 3; ++plane) {
            for (int copy = 1; copy < scale; ++copy) {
                memcpy(planes[plane] + rowStart + static_cast<size_t>(copy) * width,
                       planes[plane] + rowStart, static_cast<size_t>(width));
            }
        }
    }
}
