#pragma once

#include "Wire.h"

#include <string>

// The calculator's storage devices as directories on the PC: ROOT/fls0 (flash) and
// ROOT/crd0 (SD card), with the calculator's folders inside.
class Storage {
public:
    explicit Storage(std::string root) : rootDirectory(std::move(root)) {}

    // Creates both device directories if they are missing.
    bool prepare() const;
    const std::string& root() const { return rootDirectory; }

    static bool isDevice(const std::string& device);
    // A name that stays inside its directory: not empty, not "." or "..", no '/' or NUL.
    static bool isPlainName(const std::string& name);

    // The folder may be empty: the device's root.
    std::string pathOf(const std::string& device, const std::string& folder,
                       const std::string& file) const;

    // Links count as Other: nothing is written through them.
    enum class Entry { Missing, File, Directory, Other };
    Entry lookup(const std::string& path) const;
    long long sizeOf(const std::string& path) const;
    long long used(const std::string& device) const;

    // Writes under a hidden temporary name and renames, so that a file is either complete
    // or absent, and a file it replaces stays intact until then.
    bool store(const std::string& path, const Bytes& bytes) const;

private:
    std::string rootDirectory;
};
