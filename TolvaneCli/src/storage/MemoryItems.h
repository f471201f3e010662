#pragma once

#include "CalcPath.h"
#include "CasioMainMemory.h"

#include <cstdint>
#include <string>
#include <vector>

// An item of main memory, as the calculator lists it or a .g1m file holds it.
struct MemoryItem {
    unsigned char type = 0;
    std::string directory;
    std::string name;
    std::string group;
    uint32_t size = 0;
    uint64_t offset = 0; // in a .g1m file: where its data starts
    std::string path;    // as `list -d main` shows it (see MemoryItems::namePaths)

    // A view of the fields for the library; valid while this item lives unchanged.
    CasioMemoryItem view() const;
};

// The items of main memory as the programs shows and finds them: each by a path (CalcPath)
// of as little as tells it from the others.
class MemoryItems {
public:
    // Takes the calculator's listing.
    class Collector final : public CasioItemLister {
    public:
        void itemListed(const CasioMemoryItem& item) override;

        std::vector<MemoryItem> items;
    };

    static MemoryItem itemOf(const CasioMemoryItem& item);
    // Gives every item its path: GROUP/NAME, with the directory where another item has the
    // same group and name, and the type where that is not enough either.
    static void namePaths(std::vector<MemoryItem>* items);
    // The one item `path` names; null, with `why`, when none or several do.
    static const MemoryItem* find(const std::vector<MemoryItem>& items, const CalcPath& path,
                                  std::string* why);
    // The data bytes of all of them.
    static uint64_t bytesIn(const std::vector<MemoryItem>& items);
};
