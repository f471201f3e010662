#pragma once

#include "Wire.h"

#include <optional>
#include <string>

// What a calculator in its projector mode sends, written once for the virtual calculator,
// the tests and the fuzz targets, independently of the library: frames of its screen (0x0B,
// a kind, the kind's fields, the picture bytes, a checksum over all but the first byte) and
// the check that some modes repeat until the host answers it.
//
// Where the calculator's way is not known for sure, these are the choices made (the library
// makes the same ones, on its own): TYP01 and the planes of 1RM2 put the leftmost pixel in a
// byte's most significant bit; 1RC3 puts the left pixel in the high nibble, with bit 2 red,
// bit 1 green, bit 0 blue and bit 3 unused; the first plane of 1RM2 is the high bit of the
// grey's level (0 white to 3 black).
namespace screenwire {

enum class Kind { Typ01, Typz1, Typz2 };
// TYP01 frames are always Monochrome; TYPZ1 and TYPZ2 carry one of the other three.
enum class Format { Monochrome, Rc2, Rc3, Rm2 };

constexpr unsigned monochromeWidth = 128;
constexpr unsigned monochromeHeight = 64;
constexpr unsigned colourWidth = 384;
constexpr unsigned colourHeight = 216;

struct Picture {
    unsigned width = 0;
    unsigned height = 0;
    Bytes rgb; // three bytes a pixel (red, green, blue), rows from the top

    bool operator==(const Picture& other) const {
        return width == other.width && height == other.height && rgb == other.rgb;
    }
};

// 16 'C' 'A' 'L' '0' '0' 'D' '0', and the host's answer 06 '0' '2' '0' '0' '1' '0' 'D'.
Bytes check();
Bytes checkAnswer();

std::optional<Kind> kindNamed(const std::string& name);
std::string kindName(Kind kind);
std::optional<Format> formatNamed(const std::string& name);
std::string formatName(Format format);

// The picture's pixels as the format lays them out; colours the format lacks are reduced to
// those it has.
Bytes pixelBytes(Format format, const Picture& picture);
// What a host shows of those bytes: the picture in the colours the format keeps, shown as
// agreed (monochrome black and white; 1RC2 channels widened by repeating their top bits; 1RM2
// white, #AAAAAA, #777777, black; 1RC3 eight colours at full intensity).
Picture shown(Format format, const Picture& picture);

// A whole frame of the picture. A TYP01 picture must be 128 x 64 (std::invalid_argument).
Bytes frame(Kind kind, Format format, const Picture& picture);
// A TYPZ1 or TYPZ2 frame with whatever fields it is given, for frames that lie.
Bytes colourFrame(Kind kind, const std::string& format, unsigned width, unsigned height,
                  uint32_t count, const Bytes& pixels);

// The picture the virtual calculator shows when it is given none: the screen's size for the
// kind, with an asymmetric corner mark, colour bars, ramps of each channel and a dotted band.
Picture testPattern(Kind kind);

} // namespace screenwire
