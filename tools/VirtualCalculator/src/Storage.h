#pragma once

#include "Wire.h"

#include <optional>
#include <string>
#include <vector>

// The calculator's storage devices as directories on the PC: ROOT/fls0 (flash), always
// there, and ROOT/crd0 (SD card), there only when that directory exists. Files live in a
// device's root or one folder deep.
class Storage {
public:
    explicit Storage(std::string root) : rootDirectory(std::move(root)) {}

    // Creates the flash directory if it is missing; the SD card is left as it is.
    bool prepare() const;
    const std::string& root() const { return rootDirectory; }

    // A device name the calculator knows, whether or not the device is there.
    static bool isDevice(const std::string& device);
    bool hasDevice(const std::string& device) const;
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

    // What a listing of the device shows: the root's files by name, then each folder by
    // name with its files by name. Links, and anything deeper, are left out.
    struct Listed {
        std::string folder;
        std::string name; // empty for the folder itself
        long long size = 0;
    };
    std::vector<Listed> list(const std::string& device) const;

    // Writes under a hidden temporary name and renames, so that a file is either complete
    // or absent, and a file it replaces stays intact until then.
    bool store(const std::string& path, const Bytes& bytes) const;
    std::optional<Bytes> read(const std::string& path) const;
    bool remove(const std::string& path) const;

private:
    std::string rootDirectory;
};
