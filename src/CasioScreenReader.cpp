#include "CasioScreenReader.h"

#include "AsciiConverter.h"
#include "CasioChecksum.h"
#include "Log.h"
#include "PrintableText.h"

#include <cstring>

const unsigned char CasioScreenReader::check[checkSize] = {0x16, 'C', 'A', 'L', '0', '0', 'D', '0'};
const unsigned char CasioScreenReader::checkAnswer[checkSize] = {0x06, '0', '2', '0',
                                                                 '0',  '1', '0', 'D'};

namespace {

constexpr unsigned char frameStart = 0x0B;
constexpr unsigned char frameLead[] = {frameStart, 'T', 'Y', 'P'};
constexpr int kindOffset = 1;
constexpr int kindSize = 5;
constexpr int monochromePixelOffset = kindOffset + kindSize;
constexpr int countOffset = kindOffset + kindSize;
constexpr int sideDigits = 4;
constexpr int formatSize = 4;
constexpr int checksumSize = 2;

enum Format { monochrome, rgb565, eightColours, fourGreys, otherFormat };

struct FormatName {
    const char* name;
    Format format;
};

constexpr FormatName formatNames[] = {
    {"1RC2", rgb565}, {"1RC3", eightColours}, {"1RM2", fourGreys}};

// What the bytes at the front of those held are, as far as they tell yet.
struct Judgement {
    enum Verdict { needMore, notAStart, check, otherKind, impossible, frame } verdict;
    int size = 0; // needMore: the bytes it takes to tell; frame: the frame's length
    Format format = otherFormat;
    int width = 0;
    int height = 0;
    int pixelOffset = 0;
};

// The room a judgement may assume.
struct Limits {
    int frameBytes;
    int pictureBytes;
};

Judgement verdict(Judgement::Verdict verdict, int size = 0) {
    Judgement judgement;
    judgement.verdict = verdict;
    judgement.size = size;
    return judgement;
}

// True when the first `held` bytes (at most `size`) agree with `expected`.
bool beginsLike(const unsigned char* bytes, int held, const unsigned char* expected, int size) {
    return memcmp(bytes, expected, static_cast<size_t>(held < size ? held : size)) == 0;
}

bool isHexDigit(unsigned char byte) {
    return (byte >= '0' && byte <= '9') || (byte >= 'A' && byte <= 'F');
}

bool allHexDigits(const unsigned char* bytes, int count) {
    for (int i = 0; i < count; ++i) {
        if (!isHexDigit(bytes[i])) {
            return false;
        }
    }
    return true;
}

long long hexValue(unsigned char* digits, int count) {
    int value = 0;
    AsciiConverter::asciiToNumber(digits, &value, count);
    return static_cast<unsigned int>(value);
}

Format formatNamed(const unsigned char* name) {
    for (const FormatName& known : formatNames) {
        if (memcmp(name, known.name, formatSize) == 0) {
            return known.format;
        }
    }
    return otherFormat;
}

long long pixelBytes(Format format, long long width, long long height) {
    switch (format) {
    case rgb565:
        return width * height * 2;
    case eightColours:
        return (width + 1) / 2 * height;
    case fourGreys:
        return 2 * ((width + 7) / 8) * height;
    default:
        return width * height / 8;
    }
}

Judgement monochromeFrame(Limits limits) {
    constexpr int width = CasioScreenReader::monochromeWidth;
    constexpr int height = CasioScreenReader::monochromeHeight;
    Judgement judgement =
        verdict(Judgement::frame, monochromePixelOffset + width * height / 8 + checksumSize);
    if (judgement.size > limits.frameBytes ||
        CasioScreenReader::pictureAreaFor(width, height) > limits.pictureBytes) {
        return verdict(Judgement::impossible);
    }
    judgement.format = monochrome;
    judgement.width = width;
    judgement.height = height;
    judgement.pixelOffset = monochromePixelOffset;
    return judgement;
}

// TYPZ1 and TYPZ2: the count of picture bytes (`countDigits` hex digits), the height and the
// width (4 hex digits each), the pixel format (4 characters), then the picture bytes.
Judgement colourFrame(unsigned char* frame, int held, int countDigits, Limits limits) {
    const int heightOffset = countOffset + countDigits;
    const int widthOffset = heightOffset + sideDigits;
    const int formatOffset = widthOffset + sideDigits;
    const int pixelOffset = formatOffset + formatSize;
    // Digits are judged as they come, so that a false start is left at once.
    const int digitsHeld = (held < formatOffset ? held : formatOffset) - countOffset;
    if (!allHexDigits(frame + countOffset, digitsHeld)) {
        return verdict(Judgement::impossible);
    }
    if (held < pixelOffset) {
        return verdict(Judgement::needMore, pixelOffset);
    }
    const long long count = hexValue(frame + countOffset, countDigits);
    const long long height = hexValue(frame + heightOffset, sideDigits);
    const long long width = hexValue(frame + widthOffset, sideDigits);
    const Format format = formatNamed(frame + formatOffset);
    const bool sidesPossible = width >= 1 && height >= 1 && width <= CasioScreenReader::maxSide &&
                               height <= CasioScreenReader::maxSide;
    const bool fits = count <= limits.frameBytes - pixelOffset - checksumSize;
    const bool readable = format != otherFormat;
    if (!sidesPossible || !fits || (readable && count != pixelBytes(format, width, height)) ||
        (readable && width * height * 3 > limits.pictureBytes)) {
        return verdict(Judgement::impossible);
    }
    Judgement judgement =
        verdict(Judgement::frame, pixelOffset + static_cast<int>(count) + checksumSize);
    judgement.format = format;
    judgement.width = static_cast<int>(width);
    judgement.height = static_cast<int>(height);
    judgement.pixelOffset = pixelOffset;
    return judgement;
}

// A frame: 0x0B, five characters naming its kind, the kind's own fields and the picture
// bytes, and two hex digits of checksum. It has no length field: its kind and fields tell.
Judgement judgeFrame(unsigned char* frame, int held, Limits limits) {
    if (!beginsLike(frame, held, frameLead, sizeof frameLead)) {
        return verdict(Judgement::notAStart);
    }
    if (held < kindOffset + kindSize) {
        return verdict(Judgement::needMore, kindOffset + kindSize);
    }
    const unsigned char* kind = frame + kindOffset;
    if (memcmp(kind, "TYP01", kindSize) == 0) {
        return monochromeFrame(limits);
    }
    if (memcmp(kind, "TYPZ1", kindSize) == 0) {
        return colourFrame(frame, held, 6, limits);
    }
    if (memcmp(kind, "TYPZ2", kindSize) == 0) {
        return colourFrame(frame, held, 8, limits);
    }
    return verdict(Judgement::otherKind);
}

Judgement judgeCheck(const unsigned char* bytes, int held) {
    constexpr int size = CasioScreenReader::checkSize;
    if (!beginsLike(bytes, held, CasioScreenReader::check, size)) {
        return verdict(Judgement::notAStart);
    }
    return verdict(held < size ? Judgement::needMore : Judgement::check, size);
}

// The usual rule: the low byte of 0 minus the sum of every byte after the first.
bool checksumHolds(unsigned char* frame, int size) {
    Buffer covered(frame, size - checksumSize);
    unsigned char digits[checksumSize];
    AsciiConverter::numberToAscii(CasioChecksum::compute(&covered), digits, checksumSize);
    return memcmp(digits, frame + size - checksumSize, checksumSize) == 0;
}

// For messages: the characters as they came, made printable.
void copyName(const unsigned char* name, int size, char* text) {
    memcpy(text, name, static_cast<size_t>(size));
    text[PrintableText::clean(text, size)] = '\0';
}

void putGrey(unsigned char* rgb, unsigned char level) {
    rgb[0] = rgb[1] = rgb[2] = level;
}

// TYP01, and each plane of 1RM2: one bit a pixel, rows of (width + 7) / 8 bytes from the top.
// Unconfirmed, decided here: the most significant bit is the leftmost pixel, the usual order.
bool bitAt(const unsigned char* plane, int rowBytes, int x, int y) {
    return (plane[y * rowBytes + x / 8] >> (7 - x % 8) & 1) != 0;
}

// 1 is dark: black; 0 light: white.
void decodeMonochrome(const unsigned char* bits, int width, int height, unsigned char* rgb) {
    const int rowBytes = (width + 7) / 8;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x, rgb += 3) {
            putGrey(rgb, bitAt(bits, rowBytes, x, y) ? 0x00 : 0xFF);
        }
    }
}

// A channel of n bits widened to 8 by repeating its top bits: 0 stays 0 and the largest value
// becomes 255.
unsigned char widen(unsigned value, int bits) {
    return static_cast<unsigned char>(value << (8 - bits) | value >> (2 * bits - 8));
}

// 1RC2: 16 bits a pixel, big-endian, 5 bits of red, 6 of green, 5 of blue.
void decodeRgb565(const unsigned char* bytes, int width, int height, unsigned char* rgb) {
    const int count = width * height;
    for (int i = 0; i < count; ++i, bytes += 2, rgb += 3) {
        const unsigned value = static_cast<unsigned>(bytes[0] << 8 | bytes[1]);
        rgb[0] = widen(value >> 11, 5);
        rgb[1] = widen(value >> 5 & 0x3F, 6);
        rgb[2] = widen(value & 0x1F, 5);
    }
}

// 1RC3: 4 bits a pixel, rows of (width + 1) / 2 bytes, each colour at full intensity.
// Unconfirmed, decided here: the high nibble is the left pixel; in a nibble, bit 2 is red, bit 1
// green, bit 0 blue, and bit 3 is unused.
void decodeEightColours(const unsigned char* bytes, int width, int height, unsigned char* rgb) {
    const int rowBytes = (width + 1) / 2;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x, rgb += 3) {
            const unsigned char byte = bytes[y * rowBytes + x / 2];
            const unsigned nibble = x % 2 == 0 ? byte >> 4 : byte & 0x0F;
            rgb[0] = (nibble & 0x4) != 0 ? 0xFF : 0x00;
            rgb[1] = (nibble & 0x2) != 0 ? 0xFF : 0x00;
            rgb[2] = (nibble & 0x1) != 0 ? 0xFF : 0x00;
        }
    }
}

// 1RM2: two planes of one bit a pixel. Unconfirmed, decided here: the first plane carries the
// high bit, so that the pixel's level is 2 x first + second, from white (0) to black (3).
void decodeFourGreys(const unsigned char* planes, int width, int height, unsigned char* rgb) {
    static constexpr unsigned char greys[] = {0xFF, 0xAA, 0x77, 0x00};
    const int rowBytes = (width + 7) / 8;
    const unsigned char* second = planes + rowBytes * height;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x, rgb += 3) {
            const int level =
                (bitAt(planes, rowBytes, x, y) ? 2 : 0) + (bitAt(second, rowBytes, x, y) ? 1 : 0);
            putGrey(rgb, greys[level]);
        }
    }
}

void decode(Format format, const unsigned char* bytes, int width, int height, unsigned char* rgb) {
    switch (format) {
    case monochrome:
        decodeMonochrome(bytes, width, height, rgb);
        return;
    case rgb565:
        decodeRgb565(bytes, width, height, rgb);
        return;
    case eightColours:
        decodeEightColours(bytes, width, height, rgb);
        return;
    case fourGreys:
        decodeFourGreys(bytes, width, height, rgb);
        return;
    case otherFormat:
        return;
    }
}

// A whole frame: its picture decoded into `pixels` and handed on, or, in a pixel format not read
// here, only noted. False, with neither done, when its checksum is wrong.
bool takeWholeFrame(unsigned char* frame, const Judgement& judgement, unsigned char* pixels,
                    CasioScreenListener* listener, CasioScreenCounts* seen) {
    if (!checksumHolds(frame, judgement.size)) {
        return false;
    }
    if (judgement.format == otherFormat) {
        copyName(frame + judgement.pixelOffset - formatSize, formatSize, seen->otherFormat);
        ++seen->otherFormats;
        return true;
    }
    decode(judgement.format, frame + judgement.pixelOffset, judgement.width, judgement.height,
           pixels);
    ++seen->pictures;
    listener->pictureReceived({judgement.width, judgement.height, pixels});
    return true;
}

} // namespace

CasioScreenReader::CasioScreenReader(Buffer frameArea, Buffer pictureArea,
                                     CasioScreenListener* listener, CasioScreenSource* source)
    : area(frameArea.getData()), capacity(frameArea.getSize()), pixels(pictureArea.getData()),
      pixelCapacity(pictureArea.getSize()), listener(listener), source(source) {}

bool CasioScreenReader::feed(const Buffer& bytes) {
    const unsigned char* next = bytes.getData();
    int left = bytes.getSize();
    if (capacity <= 0) {
        seen.skippedBytes += static_cast<unsigned long>(left > 0 ? left : 0);
        return false;
    }
    bool failed = false;
    while (left > 0) {
        makeRoom();
        const int taken = left < capacity - end ? left : capacity - end;
        memcpy(area + end, next, static_cast<size_t>(taken));
        end += taken;
        next += taken;
        left -= taken;
        failed = readWhatIsHeld() || failed;
    }
    return failed;
}

void CasioScreenReader::restart() {
    start = 0;
    end = 0;
}

// Whatever is held never fills the whole area once read: a frame that size is complete.
void CasioScreenReader::makeRoom() {
    if (start == end) {
        restart();
    } else if (end == capacity) {
        memmove(area, area + start, static_cast<size_t>(end - start));
        end -= start;
        start = 0;
    }
}

// Reads every frame and check held, up to the first that is not whole yet.
bool CasioScreenReader::readWhatIsHeld() {
    bool failed = false;
    const Limits limits = {capacity, pixelCapacity};
    while (start < end) {
        unsigned char* front = area + start;
        const int held = end - start;
        if (front[0] != frameStart && front[0] != check[0]) {
            dropFirstByte(&seen.skippedBytes);
            continue;
        }
        const Judgement judgement =
            front[0] == check[0] ? judgeCheck(front, held) : judgeFrame(front, held, limits);
        switch (judgement.verdict) {
        case Judgement::needMore:
            // What needs more than the area holds is impossible, once the full area tells no
            // more: as the bytes come in whatever reads, the same bytes decide it.
            if (judgement.size <= capacity || held < capacity) {
                return failed;
            }
            dropFirstByte(&seen.impossible);
            break;
        case Judgement::notAStart:
            dropFirstByte(&seen.skippedBytes);
            break;
        case Judgement::check:
            failed = answerCheck() || failed;
            consume(checkSize);
            break;
        case Judgement::otherKind:
            copyName(front + kindOffset, kindSize, seen.otherKind);
            dropFirstByte(&seen.otherKinds);
            break;
        case Judgement::impossible:
            dropFirstByte(&seen.impossible);
            break;
        case Judgement::frame:
            if (held < judgement.size) {
                return failed;
            }
            if (takeWholeFrame(front, judgement, pixels, listener, &seen)) {
                consume(judgement.size);
            } else {
                dropFirstByte(&seen.damaged);
            }
            break;
        }
    }
    return failed;
}

bool CasioScreenReader::answerCheck() {
    ++seen.checks;
    if (source == nullptr) {
        return false;
    }
    unsigned char answer[checkSize];
    memcpy(answer, checkAnswer, checkSize);
    Buffer answerBuffer(answer, checkSize);
    if (source->answer(&answerBuffer)) {
        Log::error("Failed to answer the calc's check !");
        return true;
    }
    ++seen.checksAnswered;
    return false;
}

// Bytes may have been lost anywhere, so the next frame may begin right after this start.
void CasioScreenReader::dropFirstByte(unsigned long* reason) {
    ++*reason;
    ++start;
}

void CasioScreenReader::consume(int count) {
    start += count;
}
