#pragma once

#include "BackupManifest.h"

#include <string>

// A backup on this machine, as tolvane backup made it: the folder's MANIFEST, info.txt and each
// storage device's files under DEVICE/, checked whole before anything reaches a calculator.
class BackupFolder {
public:
    // Reads the manifest of the backup in `folder` and checks every file it names: there, a
    // regular file, of its size and SHA-256. False after naming each problem.
    static bool check(const std::string& folder, BackupManifest* manifest);
    // Where the backup in `folder` keeps `file`.
    static std::string pathOf(const std::string& folder, const StoredFile& file);
};
