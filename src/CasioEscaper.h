#pragma once

#include "Buffer.h"

// Escaping of extended data: control bytes 0x00-0x1E and the escape byte 0x5C travel
// as 0x5C followed by the byte plus 0x20. A calculator sends 0x5C as 0x5C 0x5C instead,
// which is restored as well. Both operations return true when the output's capacity (its
// size on entry) runs out, or when the input cannot be restored; the output's size then
// stays at that capacity.
class CasioEscaper {
public:
    static constexpr unsigned char escapeByte = 0x5C;

    static bool escapeBuffer(Buffer* input, Buffer* output);
    static bool restoreBuffer(Buffer* input, Buffer* output);
};
