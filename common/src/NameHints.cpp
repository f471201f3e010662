#include "NameHints.h"

#include "Log.h"

#include <cstring>

namespace {

void warnIfLonger(const char* name, unsigned length, const char* warning) {
    if (strlen(name) > length) {
        Log::warning(warning);
    }
}

} // namespace

void NameHints::warnIfFileNameLong(const char* name) {
    warnIfLonger(name, fileNameLength, "File name might be too long (12 max) !");
}

void NameHints::warnIfFolderNameLong(const char* name) {
    warnIfLonger(name, folderNameLength, "Folder name might be too long (8 max) !");
}

void NameHints::warnIfDeviceNameLong(const char* name) {
    warnIfLonger(name, deviceNameLength, "Device name might be too long (4 max) !");
}
