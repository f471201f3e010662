#pragma once

#include "Buffer.h"

// What a calculator tells about itself. Text fields are trimmed of their 0xFF and NUL padding
// and of trailing blanks, and hold no control characters; capacities are -1 when their field
// holds no number.
class CasioDeviceInfo {
public:
    static constexpr int blockSize = 164;
    // Some models add 24 bytes: a longer user name, and an organisation.
    static constexpr int longBlockSize = 188;

    char hardwareId[9];
    char processor[17];
    char osVersion[17];
    char bootVersion[17];
    char protocolVersion[5];
    char productId[17];
    char userName[21];
    long flashKiB;
    long ramKiB;

    // Reads the information block; true when it is shorter than 164 bytes.
    static bool read(Buffer* block, CasioDeviceInfo* info);
};
