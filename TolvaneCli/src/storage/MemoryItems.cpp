#include "MemoryItems.h"

#include <algorithm>

namespace {

std::string textOf(const Buffer& view) {
    return std::string(reinterpret_cast<const char*>(view.getData()),
                       static_cast<size_t>(view.getSize()));
}

Buffer viewOf(const std::string& text) {
    return Buffer(reinterpret_cast<unsigned char*>(const_cast<char*>(text.data())),
                  static_cast<int>(text.size()));
}

using Detail = CalcPath::Detail;

bool sameUpTo(const MemoryItem& one, const MemoryItem& other, Detail detail) {
    return one.group == other.group && one.name == other.name &&
           (detail == Detail::GroupAndName || one.directory == other.directory);
}

// As little as tells `item` from every other.
Detail detailFor(const std::vector<MemoryItem>& items, const MemoryItem& item) {
    for (const Detail detail : {Detail::GroupAndName, Detail::Directory}) {
        const auto alike = [&](const MemoryItem& other) {
            return &other != &item && sameUpTo(item, other, detail);
        };
        if (std::none_of(items.begin(), items.end(), alike)) {
            return detail;
        }
    }
    return Detail::DirectoryAndType;
}

} // namespace

CasioMemoryItem MemoryItem::view() const {
    return {type, size, viewOf(directory), viewOf(name), viewOf(group)};
}

void MemoryItems::Collector::itemListed(const CasioMemoryItem& item) {
    items.push_back(itemOf(item));
}

MemoryItem MemoryItems::itemOf(const CasioMemoryItem& item) {
    MemoryItem taken;
    taken.type = item.type;
    taken.directory = textOf(item.directory);
    taken.name = textOf(item.name);
    taken.group = textOf(item.group);
    taken.size = item.size;
    return taken;
}

void MemoryItems::namePaths(std::vector<MemoryItem>* items) {
    for (MemoryItem& item : *items) {
        item.path = CalcPath::itemText(item.group, item.directory, item.name, item.type,
                                       detailFor(*items, item));
    }
}

const MemoryItem* MemoryItems::find(const std::vector<MemoryItem>& items, const CalcPath& path,
                                    std::string* why) {
    std::vector<const MemoryItem*> named;
    for (const MemoryItem& item : items) {
        if (path.namesItem(item.group, item.directory, item.name, item.type)) {
            named.push_back(&item);
        }
    }
    if (named.size() == 1) {
        return named.front();
    }
    *why = "main memory holds no such item";
    if (named.size() > 1) {
        *why = "it names several items:";
        for (const MemoryItem* item : named) {
            *why += " " + item->path;
        }
    }
    return nullptr;
}

uint64_t MemoryItems::bytesIn(const std::vector<MemoryItem>& items) {
    uint64_t bytes = 0;
    for (const MemoryItem& item : items) {
        bytes += item.size;
    }
    return bytes;
}
