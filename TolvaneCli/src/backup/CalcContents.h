#pragma once

#include "BackupManifest.h"
#include "CalcStorage.h"

#include <map>
#include <string>
#include <vector>

// Every file of every storage device a calculator holds now, and every item of its main memory
// where it has one, listed in one go, and found by its device and name as the calculator tells
// names apart.
class CalcContents {
public:
    // False after saying why the calculator's files can't all be listed.
    bool read(CalcStorage* storage);

    bool holds(const std::string& device) const;
    // The calculator's file of the same device and name as `file`; null when it has none.
    const StoredFile* find(const StoredFile& file) const;
    // What tells two files apart on this calculator.
    std::string keyOf(const StoredFile& file) const;

    // The calculator's item of the same fields as `item`; null when it has none.
    const StoredItem* find(const StoredItem& item) const;

    std::vector<std::string> devices;
    std::vector<StoredFile> files;
    bool holdsItems = false; // it has main memory, with `items`
    std::vector<StoredItem> items;

private:
    bool readItems(CalcStorage* storage);

    bool caseSensitive = true;
    std::map<std::string, size_t> byKey;
};
