#pragma once

// Numbers as fixed-width upper-case hex digit text, most significant digit first,
// without prefix or terminator. The caller guarantees `byteCount` accessible bytes.
class AsciiConverter {
public:
    static void numberToAscii(int number, unsigned char* outputBuffer, int byteCount);
    // Never rejects a byte: anything but '0'-'9' and 'A'-'F' decodes to its 8-bit
    // difference at its digit position, as the calculator's own decoder does.
    static void asciiToNumber(unsigned char* inputBuffer, int* outputNumber, int byteCount);
};
