#pragma once

#include "Buffer.h"

// One part of a file in transit: how many parts the file has, which one this is (from 1),
// and its bytes, a view.
struct CasioPart {
    int count;
    int number;
    Buffer bytes;
};

// The layout of a data part's extended data: count (4 hex) | number (4 hex) | bytes.
class CasioDataPart {
public:
    static constexpr int headerSize = 8;
    static constexpr int maxCount = 0xFFFF;
    // What one part carries when we send; a calculator may send fewer.
    static constexpr int maxBytes = 256;

    // Lays `part` out in `output`, whose size is the capacity on entry and the length written
    // on success. True when it does not fit.
    // How many parts of maxBytes carry `size` bytes.
    static int partsFor(long long size);

    static bool build(const CasioPart& part, Buffer* output);
    // True when `data` is shorter than the part header; `part->bytes` then views nothing.
    static bool read(Buffer* data, CasioPart* part);
};
