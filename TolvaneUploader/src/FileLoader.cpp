#include "FileLoader.h"

#include "Log.h"

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <sys/stat.h>

namespace {

const Buffer failure(nullptr, -1);

bool isRegularFile(FILE* file) {
    struct stat status;
    return fstat(fileno(file), &status) == 0 && S_ISREG(status.st_mode);
}

// The length found by seeking, or -1 after reporting why there is none.
int measure(FILE* file) {
    if (fseek(file, 0, SEEK_END) != 0) {
        Log::error("Can't read file: fseek failure");
        return -1;
    }
    const long position = ftell(file);
    // A directory seeks "successfully" to a meaningless position.
    if (!isRegularFile(file)) {
        Log::error("Can't read file: not a regular file !");
        return -1;
    }
    if (position < 0 || position > INT_MAX) {
        Log::error("Can't read file: file too big !");
        return -1;
    }
    if (fseek(file, 0, SEEK_SET) != 0) {
        Log::error("Can't read file: fseek failure");
        return -1;
    }
    return static_cast<int>(position);
}

Buffer closeAndFail(FILE* file, unsigned char* data) {
    free(data);
    fclose(file);
    return failure;
}

} // namespace

Buffer FileLoader::readFile(const char* filename) {
    Log::debug("Openning the file ...");
    FILE* file = fopen(filename, "rb");
    if (file == nullptr) {
        Log::error("Can't open the file !");
        Log::info("Check the name ?");
        printf("Filename: \"%s\"\n", filename);
        return failure;
    }

    const int fileSize = measure(file);
    if (fileSize < 0) {
        return closeAndFail(file, nullptr);
    }
    if (fileSize == 0) {
        Log::warning("File is empty !");
        Log::info("Check the file ?");
    }

    auto* data = static_cast<unsigned char*>(malloc(fileSize));
    if (data == nullptr) {
        Log::error("Can't alloc memory to read the file !");
        return closeAndFail(file, nullptr);
    }

    Log::debug("Reading the file ...");
    if (fread(data, 1, fileSize, file) != static_cast<size_t>(fileSize)) {
        Log::error("Missmatching file size after reading !");
        Log::info("Unknown error, is the file being modified ?");
        return closeAndFail(file, data);
    }

    if (fclose(file) != 0) {
        Log::error("Failed to close the file !");
    }
    Log::info("File has been read !");
    return Buffer(data, fileSize);
}
