#include "ArgReader.h"

#include "ArgHelp.h"
#include "Log.h"
#include "NameHints.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

struct NameOption {
    const char* option;
    // Only a warning: the calculator may still take a longer name.
    void (*warnIfLong)(const char* name);
    const char* missingValueError;
    bool printsPosition; // the position line that only -f prints when its value is missing
};

constexpr NameOption fileOption = {"-f", NameHints::warnIfFileNameLong, "-f without argument!",
                                   true};
constexpr NameOption folderOption = {"-F", NameHints::warnIfFolderNameLong, "-F without argument!",
                                     false};
constexpr NameOption deviceOption = {"-d", NameHints::warnIfDeviceNameLong, "-d without argument!",
                                     false};

bool is(const char* argument, const char* option) {
    return strcmp(argument, option) == 0;
}

bool hasValue(int argc, int i) {
    return i + 1 < argc;
}

bool rejectLine(const char* error) {
    Log::error(error);
    ArgHelp::showHelp();
    return true;
}

// Stores the value that follows a name option; true when there is none.
bool takeName(int argc, char** argv, int i, const NameOption& option, const char** name) {
    if (!hasValue(argc, i)) {
        if (option.printsPosition) {
            printf("%d %d\n", i, argc);
        }
        return rejectLine(option.missingValueError);
    }
    *name = argv[i + 1];
    option.warnIfLong(*name);
    return false;
}

// Applies the level that follows -l at once; true when it is missing or out of range.
bool takeLoglevel(int argc, char** argv, int i) {
    if (!hasValue(argc, i)) {
        return rejectLine("-l without argument!");
    }
    // Judged before narrowing, so that a huge value cannot wrap into the range.
    const long newLoglevel = strtol(argv[i + 1], nullptr, 10);
    if (newLoglevel < LOGLEVEL_ERROR || newLoglevel > LOGLEVEL_DEBUG) {
        return rejectLine("-l out of range!");
    }
    Log::setLoglevel(static_cast<int>(newLoglevel));
    return false;
}

} // namespace

bool ArgReader::readArg(int argc, char** argv) {
    // Each pass advances by one, so an option's value is examined again as an argument.
    for (int i = 1; i < argc; ++i) {
        const char* argument = argv[i];
        if (is(argument, fileOption.option) && takeName(argc, argv, i, fileOption, &fileName)) {
            return true;
        }
        if (is(argument, folderOption.option) &&
            takeName(argc, argv, i, folderOption, &folderName)) {
            return true;
        }
        if (is(argument, deviceOption.option) &&
            takeName(argc, argv, i, deviceOption, &deviceName)) {
            return true;
        }
        if (is(argument, "-l") && takeLoglevel(argc, argv, i)) {
            return true;
        }
        if (is(argument, "-q")) {
            Log::setLoglevel(-1);
        }
        if (is(argument, "-w")) {
            allowOverwrite = true;
        }
    }

    if (fileName == nullptr) {
        ArgHelp::showHelp();
        return true;
    }
    if (folderName == nullptr) {
        folderName = "";
    }
    if (deviceName == nullptr) {
        deviceName = "fls0";
    }
    return false;
}

const char* ArgReader::getFileName() const {
    return fileName;
}

const char* ArgReader::getFolderName() const {
    return folderName;
}

const char* ArgReader::getDeviceName() const {
    return deviceName;
}

bool ArgReader::getAllowOverwrite() const {
    return allowOverwrite;
}
