#include "ScreenWire.h"

#include <array>
#include <stdexcept>

namespace screenwire {

namespace {

constexpr uint8_t frameStart = 0x0B;
constexpr std::array<uint8_t, 4> greys = {0xFF, 0xAA, 0x77, 0x00};

struct Rgb {
    uint8_t red, green, blue;
};

Rgb pixel(const Picture& picture, unsigned x, unsigned y) {
    const size_t at = (static_cast<size_t>(y) * picture.width + x) * 3;
    return {picture.rgb[at], picture.rgb[at + 1], picture.rgb[at + 2]};
}

unsigned luma(Rgb colour) {
    return (299u * colour.red + 587u * colour.green + 114u * colour.blue) / 1000u;
}

bool dark(Rgb colour) {
    return luma(colour) < 128;
}

// 0 (white) to 3 (black): the nearest of the four greys.
unsigned greyLevel(Rgb colour) {
    const unsigned value = luma(colour);
    unsigned best = 0;
    for (unsigned level = 1; level < greys.size(); ++level) {
        const int distance = static_cast<int>(value) - greys[level];
        const int bestDistance = static_cast<int>(value) - greys[best];
        if (distance * distance < bestDistance * bestDistance) {
            best = level;
        }
    }
    return best;
}

// Bit 2 red, bit 1 green, bit 0 blue: a channel is on from half intensity.
unsigned nibble(Rgb colour) {
    return (colour.red >= 128 ? 4u : 0u) | (colour.green >= 128 ? 2u : 0u) |
           (colour.blue >= 128 ? 1u : 0u);
}

uint16_t rgb565(Rgb colour) {
    return static_cast<uint16_t>((colour.red >> 3) << 11 | (colour.green >> 2) << 5 |
                                 colour.blue >> 3);
}

// A plane of one bit a pixel, rows of whole bytes, the leftmost pixel in the top bit.
template <typename BitOf> Bytes plane(const Picture& picture, BitOf bitOf) {
    const size_t rowBytes = (picture.width + 7) / 8;
    Bytes bytes(rowBytes * picture.height, 0);
    for (unsigned y = 0; y < picture.height; ++y) {
        for (unsigned x = 0; x < picture.width; ++x) {
            if (bitOf(pixel(picture, x, y))) {
                bytes[y * rowBytes + x / 8] |= static_cast<uint8_t>(0x80 >> (x % 8));
            }
        }
    }
    return bytes;
}

Bytes eightColourBytes(const Picture& picture) {
    const size_t rowBytes = (picture.width + 1) / 2;
    Bytes bytes(rowBytes * picture.height, 0);
    for (unsigned y = 0; y < picture.height; ++y) {
        for (unsigned x = 0; x < picture.width; ++x) {
            const unsigned shift = x % 2 == 0 ? 4 : 0;
            bytes[y * rowBytes + x / 2] |=
                static_cast<uint8_t>(nibble(pixel(picture, x, y)) << shift);
        }
    }
    return bytes;
}

Bytes rgb565Bytes(const Picture& picture) {
    Bytes bytes;
    bytes.reserve(static_cast<size_t>(picture.width) * picture.height * 2);
    for (unsigned y = 0; y < picture.height; ++y) {
        for (unsigned x = 0; x < picture.width; ++x) {
            const uint16_t value = rgb565(pixel(picture, x, y));
            bytes.push_back(static_cast<uint8_t>(value >> 8));
            bytes.push_back(static_cast<uint8_t>(value & 0xFF));
        }
    }
    return bytes;
}

// Widening by repeating the top bits: 5 bits abcde become abcdeabc, 6 bits abcdef abcdefab.
uint8_t widened(unsigned value, unsigned bits) {
    unsigned wide = value << (8 - bits);
    wide |= wide >> bits;
    return static_cast<uint8_t>(wide);
}

Rgb shownPixel(Format format, Rgb colour) {
    switch (format) {
    case Format::Monochrome: {
        const uint8_t grey = dark(colour) ? 0x00 : 0xFF;
        return {grey, grey, grey};
    }
    case Format::Rc2:
        return {widened(colour.red >> 3, 5), widened(colour.green >> 2, 6),
                widened(colour.blue >> 3, 5)};
    case Format::Rc3: {
        const unsigned bits = nibble(colour);
        return {static_cast<uint8_t>(bits & 4 ? 0xFF : 0),
                static_cast<uint8_t>(bits & 2 ? 0xFF : 0),
                static_cast<uint8_t>(bits & 1 ? 0xFF : 0)};
    }
    case Format::Rm2: {
        const uint8_t grey = greys[greyLevel(colour)];
        return {grey, grey, grey};
    }
    }
    return colour;
}

Rgb patternPixel(unsigned x, unsigned y, unsigned width, unsigned height) {
    static constexpr std::array<Rgb, 8> bars = {{{255, 255, 255},
                                                 {255, 255, 0},
                                                 {0, 255, 255},
                                                 {0, 255, 0},
                                                 {255, 0, 255},
                                                 {255, 0, 0},
                                                 {0, 0, 255},
                                                 {0, 0, 0}}};
    const bool border = x == 0 || y == 0 || x == width - 1 || y == height - 1;
    const bool cornerMark = (y == 2 && x >= 2 && x < 9) || (x == 2 && y >= 2 && y < 14);
    if (border || cornerMark) {
        return {0, 0, 0};
    }
    const unsigned middle = height / 2;
    if (y + 4 >= middle && y < middle) {
        const bool dot = (x * x + 3 * y) % 5 < 2;
        return dot ? Rgb{0, 0, 0} : Rgb{255, 255, 255};
    }
    if (y < middle) {
        return bars[x * bars.size() / width];
    }
    const uint8_t ramp = static_cast<uint8_t>(x * 255 / (width - 1));
    switch ((y - middle) * 4 / (height - middle)) {
    case 0:
        return {ramp, 0, 0};
    case 1:
        return {0, ramp, 0};
    case 2:
        return {0, 0, ramp};
    default:
        return {ramp, ramp, ramp};
    }
}

Bytes frameBegin(Kind kind) {
    Bytes bytes = {frameStart};
    const std::string name = kindName(kind);
    bytes.insert(bytes.end(), name.begin(), name.end());
    return bytes;
}

} // namespace

Bytes check() {
    return {0x16, 'C', 'A', 'L', '0', '0', 'D', '0'};
}

Bytes checkAnswer() {
    return {0x06, '0', '2', '0', '0', '1', '0', 'D'};
}

std::optional<Kind> kindNamed(const std::string& name) {
    for (Kind kind : {Kind::Typ01, Kind::Typz1, Kind::Typz2}) {
        if (kindName(kind) == name) {
            return kind;
        }
    }
    return std::nullopt;
}

std::string kindName(Kind kind) {
    switch (kind) {
    case Kind::Typ01:
        return "TYP01";
    case Kind::Typz1:
        return "TYPZ1";
    case Kind::Typz2:
        return "TYPZ2";
    }
    return "";
}

std::optional<Format> formatNamed(const std::string& name) {
    for (Format format : {Format::Rc2, Format::Rc3, Format::Rm2}) {
        if (formatName(format) == name) {
            return format;
        }
    }
    return std::nullopt;
}

std::string formatName(Format format) {
    switch (format) {
    case Format::Monochrome:
        return "";
    case Format::Rc2:
        return "1RC2";
    case Format::Rc3:
        return "1RC3";
    case Format::Rm2:
        return "1RM2";
    }
    return "";
}

Bytes pixelBytes(Format format, const Picture& picture) {
    switch (format) {
    case Format::Monochrome:
        return plane(picture, dark);
    case Format::Rc2:
        return rgb565Bytes(picture);
    case Format::Rc3:
        return eightColourBytes(picture);
    case Format::Rm2: {
        Bytes bytes = plane(picture, [](Rgb colour) { return greyLevel(colour) >= 2; });
        const Bytes low = plane(picture, [](Rgb colour) { return greyLevel(colour) % 2 == 1; });
        bytes.insert(bytes.end(), low.begin(), low.end());
        return bytes;
    }
    }
    return {};
}

Picture shown(Format format, const Picture& picture) {
    Picture result = picture;
    for (unsigned y = 0; y < picture.height; ++y) {
        for (unsigned x = 0; x < picture.width; ++x) {
            const Rgb colour = shownPixel(format, pixel(picture, x, y));
            const size_t at = (static_cast<size_t>(y) * picture.width + x) * 3;
            result.rgb[at] = colour.red;
            result.rgb[at + 1] = colour.green;
            result.rgb[at + 2] = colour.blue;
        }
    }
    return result;
}

Bytes frame(Kind kind, Format format, const Picture& picture) {
    if (kind != Kind::Typ01) {
        const Bytes pixels = pixelBytes(format, picture);
        return colourFrame(kind, formatName(format), picture.width, picture.height,
                           static_cast<uint32_t>(pixels.size()), pixels);
    }
    if (picture.width != monochromeWidth || picture.height != monochromeHeight) {
        throw std::invalid_argument("a TYP01 picture is 128 x 64");
    }
    Bytes bytes = frameBegin(kind);
    const Bytes pixels = pixelBytes(Format::Monochrome, picture);
    bytes.insert(bytes.end(), pixels.begin(), pixels.end());
    return wire::withChecksum(bytes);
}

Bytes colourFrame(Kind kind, const std::string& format, unsigned width, unsigned height,
                  uint32_t count, const Bytes& pixels) {
    Bytes bytes = frameBegin(kind);
    wire::appendHex(bytes, count, kind == Kind::Typz2 ? 8 : 6);
    wire::appendHex(bytes, height, 4);
    wire::appendHex(bytes, width, 4);
    bytes.insert(bytes.end(), format.begin(), format.end());
    bytes.insert(bytes.end(), pixels.begin(), pixels.end());
    return wire::withChecksum(bytes);
}

Picture testPattern(Kind kind) {
    Picture picture;
    picture.width = kind == Kind::Typ01 ? monochromeWidth : colourWidth;
    picture.height = kind == Kind::Typ01 ? monochromeHeight : colourHeight;
    picture.rgb.reserve(static_cast<size_t>(picture.width) * picture.height * 3);
    for (unsigned y = 0; y < picture.height; ++y) {
        for (unsigned x = 0; x < picture.width; ++x) {
            const Rgb colour = patternPixel(x, y, picture.width, picture.height);
            picture.rgb.insert(picture.rgb.end(), {colour.red, colour.green, colour.blue});
        }
    }
    return picture;
}

} // namespace screenwire
