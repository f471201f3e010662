#pragma once

#include "Buffer.h"

#include <cstdint>

// What a storage command carries: an overwrite mode, a data type, a size, and six fields
// (folder, file name, two unused, storage device, unused; for main memory: directory, item
// name, group, the rest unused). The fields are views: of the
// caller's names when a command is built, of the received data when one is read.
struct CasioStorageCommand {
    unsigned char overwriteMode;
    unsigned char dataType;
    uint32_t size;
    Buffer fields[6];
};

// The layout of a storage command's extended data, the same for every command:
//   mode (2 hex) | data type (2 hex) | size (8 hex) | six field lengths (2 hex each) | fields
class CasioCommandHeader {
public:
    static constexpr int headerSize = 24;
    static constexpr int fieldCount = 6;
    static constexpr int folderField = 0;
    static constexpr int nameField = 1;
    static constexpr int groupField = 2;
    static constexpr int deviceField = 4;
    static constexpr int maxFieldLength = 0xFF;
    static constexpr int maxDataSize = headerSize + fieldCount * maxFieldLength;

    static constexpr unsigned char modeAsk = 0x00;
    static constexpr unsigned char modeOverwrite = 0x02;

    // A command on a file, or on a whole storage device (null names leave fields empty).
    static CasioStorageCommand naming(const char* folder, const char* name, const char* device);

    // Lays `command` out in `output`, whose size is the capacity on entry and the length
    // written on success. True when a field is longer than 255 bytes or nothing fits.
    static bool build(const CasioStorageCommand& command, Buffer* output);
    // Reads `data` into `command`, whose fields then view `data`. True when `data` is shorter
    // than the header or than the fields the header announces.
    static bool read(Buffer* data, CasioStorageCommand* command);
};
