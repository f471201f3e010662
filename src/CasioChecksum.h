#pragma once

#include "Buffer.h"

// The packet checksum: the two's-complement negation of the 8-bit sum of every byte
// but the first (the packet type is not covered).
class CasioChecksum {
public:
    static unsigned char compute(Buffer* bufferToCompute);
};
