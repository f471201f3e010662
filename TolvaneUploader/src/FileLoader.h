#pragma once

#include "Buffer.h"

// Reads the file to upload whole into one heap block, which the caller keeps.
class FileLoader {
public:
    // A size of -1 means failure (each failure is reported on the console); any other
    // size is the file's length and the data points at its bytes.
    static Buffer readFile(const char* filename);
};
