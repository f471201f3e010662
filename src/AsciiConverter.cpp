#include "AsciiConverter.h"

#include <cstdint>

namespace {

constexpr int bitsPerDigit = 4;
constexpr int bitsPerNumber = 32;

unsigned char digitToAscii(uint32_t value) {
    return static_cast<unsigned char>(value <= 9 ? value + 0x30 : value + 0x37);
}

uint32_t asciiToDigit(unsigned char character) {
    return static_cast<unsigned char>(character <= 0x39 ? character - 0x30 : character - 0x37);
}

} // namespace

void AsciiConverter::numberToAscii(int number, unsigned char* outputBuffer, int byteCount) {
    const uint32_t bits = static_cast<uint32_t>(number);
    for (int i = 0; i < byteCount; ++i) {
        const int shift = bitsPerDigit * i;
        // Digits beyond the eighth have no bits left to carry.
        const uint32_t value = shift < bitsPerNumber ? (bits >> shift) & 0xF : 0;
        outputBuffer[byteCount - 1 - i] = digitToAscii(value);
    }
}

void AsciiConverter::asciiToNumber(unsigned char* inputBuffer, int* outputNumber, int byteCount) {
    uint32_t number = 0;
    for (int i = 0; i < byteCount; ++i) {
        const int shift = bitsPerDigit * i;
        if (shift >= bitsPerNumber) {
            break;
        }
        number |= asciiToDigit(inputBuffer[byteCount - 1 - i]) << shift;
    }
    *outputNumber = static_cast<int>(number);
}
