// ArgReader::readArg on any command line.
//
// Input: the arguments after the program name, separated by 0 bytes (at most 64 of them).
// Each argument is a heap block of exactly its length plus the terminator, and argv itself
// holds exactly argc + 1 pointers, the last one null, as the kernel lays them out.

#include "ArgReader.h"
#include "FuzzSupport.h"
#include "Log.h"

#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

using FuzzSupport::check;

namespace {

constexpr size_t maxArguments = 64;
constexpr char programName[] = "TolvaneUploader";

std::unique_ptr<char[]> cString(const uint8_t* bytes, size_t length) {
    std::unique_ptr<char[]> text(new char[length + 1]);
    memcpy(text.get(), bytes, length);
    text[length] = '\0';
    return text;
}

bool is(const char* argument, const char* option) {
    return strcmp(argument, option) == 0;
}

// What the scan must conclude, worked out from the line alone.
struct Expected {
    bool rejected = false;
    const char* fileName = nullptr;
    const char* folderName = nullptr;
    const char* deviceName = nullptr;
    bool allowOverwrite = false;
};

Expected expect(int argc, char** argv) {
    Expected expected;
    for (int i = 1; i < argc; ++i) {
        const char* argument = argv[i];
        const bool takesValue =
            is(argument, "-f") || is(argument, "-F") || is(argument, "-d") || is(argument, "-l");
        if (takesValue && i + 1 >= argc) {
            expected.rejected = true;
            return expected;
        }
        if (is(argument, "-f")) {
            expected.fileName = argv[i + 1];
        } else if (is(argument, "-F")) {
            expected.folderName = argv[i + 1];
        } else if (is(argument, "-d")) {
            expected.deviceName = argv[i + 1];
        } else if (is(argument, "-l")) {
            const long level = strtol(argv[i + 1], nullptr, 10);
            if (level < 0 || level > 3) {
                expected.rejected = true;
                return expected;
            }
        } else if (is(argument, "-w")) {
            expected.allowOverwrite = true;
        }
    }
    expected.rejected = expected.fileName == nullptr;
    return expected;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // The help text and one diagnostic line go to standard output whatever the level.
    FuzzSupport::silenceStdout();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<std::unique_ptr<char[]>> arguments;
    arguments.push_back(
        cString(reinterpret_cast<const uint8_t*>(programName), sizeof programName - 1));
    size_t start = 0;
    for (size_t i = 0; i <= size && arguments.size() <= maxArguments; ++i) {
        if (i == size || data[i] == 0) {
            arguments.push_back(cString(data + start, i - start));
            start = i + 1;
        }
    }
    const int argc = static_cast<int>(arguments.size());
    std::unique_ptr<char*[]> argv(new char*[arguments.size() + 1]);
    for (size_t i = 0; i < arguments.size(); ++i) {
        argv[i] = arguments[i].get();
    }
    argv[arguments.size()] = nullptr;

    // The uploader's own starting level; -l and -q change it during the scan.
    Log::setLoglevel(LOGLEVEL_INFO);
    ArgReader reader;
    const bool rejected = reader.readArg(argc, argv.get());

    const Expected expected = expect(argc, argv.get());
    check(rejected == expected.rejected, "the line was judged differently");
    if (rejected) {
        return 0;
    }
    // The names point into argv itself, or at the defaults.
    check(reader.getFileName() != nullptr && reader.getFolderName() != nullptr &&
              reader.getDeviceName() != nullptr,
          "a name is missing after a successful scan");
    check(reader.getFileName() == expected.fileName, "wrong file name");
    check(expected.folderName ? reader.getFolderName() == expected.folderName
                              : strcmp(reader.getFolderName(), "") == 0,
          "wrong folder name");
    check(expected.deviceName ? reader.getDeviceName() == expected.deviceName
                              : strcmp(reader.getDeviceName(), "fls0") == 0,
          "wrong device name");
    check(reader.getAllowOverwrite() == expected.allowOverwrite, "wrong overwrite setting");
    return 0;
}
