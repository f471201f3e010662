#pragma once

// The lengths of name a calculator shows well, and the warning for a longer one: longer names
// are still sent, since a calculator may take them.
class NameHints {
public:
    static constexpr unsigned fileNameLength = 12;
    static constexpr unsigned folderNameLength = 8;
    static constexpr unsigned deviceNameLength = 4;

    static void warnIfFileNameLong(const char* name);
    static void warnIfFolderNameLong(const char* name);
    static void warnIfDeviceNameLong(const char* name);
};
