#pragma once

#include "Storage.h"
#include "Wire.h"

#include <optional>
#include <string>
#include <vector>

// The calculator's main memory as a directory on the PC: each item one file,
// ROOT/GROUP/DIRECTORY/NAME.TT, holding the item's bytes, TT its type in two hex digits. Names
// are kept as they are but for the bytes a file name cannot hold plainly: every byte other
// than a letter, a digit, a space or one of - _ @ ~ + = , ! # & ( ) [ ] { } is written %XX
// (so '.', '/' and '%' too), and an empty name is written %.
class MainMemory {
public:
    struct Item {
        uint8_t type = 0;
        std::string directory;
        std::string name;
        std::string group;
    };
    struct Listed {
        Item item;
        long long size = 0;
    };

    explicit MainMemory(std::string root) : rootDirectory(root), files(std::move(root)) {}

    bool prepare() const;
    const std::string& root() const { return rootDirectory; }
    std::string pathOf(const Item& item) const;
    // The item as the notes name it: its path below the root.
    static std::string shown(const Item& item);

    bool has(const Item& item) const;
    long long sizeOf(const Item& item) const;
    long long used() const;
    // Every item, by group, directory, name and type; files that are no item are left out.
    std::vector<Listed> list() const;
    std::optional<Bytes> read(const Item& item) const;
    // Written whole or not at all, as the storage writes files.
    bool store(const Item& item, const Bytes& bytes) const;
    bool remove(const Item& item) const;

private:
    std::string rootDirectory;
    Storage files;
};
