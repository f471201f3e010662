#include "CalculatorTurn.h"

#include <algorithm>

namespace {

std::string shown(const std::string& device, const std::string& folder, const std::string& name) {
    return device + "/" + (folder.empty() ? "" : folder + "/") + name;
}

wire::CommandData described(uint32_t size, const std::string& folder, const std::string& name,
                            const std::string& device) {
    return {0x00, 0x00, size, folder, name, device};
}

Bytes itemDescribed(const MainMemory::Item& item, long long size) {
    return wire::itemData(
        {0x00, item.type, static_cast<uint32_t>(size), item.directory, item.name, item.group});
}

uint32_t clamped(long long size) {
    return static_cast<uint32_t>(std::clamp(size, 0LL, 0xFFFFFFFFLL));
}

} // namespace

CalculatorTurn CalculatorTurn::file(const std::string& device, const std::string& folder,
                                    const std::string& name, const Bytes& content,
                                    const FileFlaws& flaws) {
    CalculatorTurn turn(Kind::File, shown(device, folder, name));
    const uint32_t size = static_cast<uint32_t>(content.size());
    turn.packets.push_back(
        {wire::typeCommand, wire::commandFile,
         wire::commandData(described(flaws.announcedSize.value_or(size), folder, name, device)),
         FaultPlace{FaultPlace::Header, 0}, "the header of " + turn.turnSubject, false});
    turn.addParts(wire::commandFile, content);
    const uint32_t count =
        static_cast<uint32_t>((content.size() + wire::partSize - 1) / wire::partSize);
    if (flaws.extraPart) {
        const Bytes last = count == 0 ? Bytes{'x'} : Bytes(content.end() - 1, content.end());
        turn.packets.push_back({wire::typeData, wire::commandFile,
                                wire::partData(count, count + 1, last), std::nullopt,
                                "data part " + std::to_string(count + 1) + " of " +
                                    std::to_string(count) + " of " + turn.turnSubject,
                                true});
    }
    return turn;
}

void CalculatorTurn::addParts(uint8_t code, const Bytes& content) {
    const uint32_t count =
        static_cast<uint32_t>((content.size() + wire::partSize - 1) / wire::partSize);
    for (uint32_t number = 1; number <= count; ++number) {
        const size_t begin = (number - 1) * wire::partSize;
        const size_t end = std::min(content.size(), begin + wire::partSize);
        const Bytes bytes(content.begin() + static_cast<long>(begin),
                          content.begin() + static_cast<long>(end));
        packets.push_back({wire::typeData, code, wire::partData(count, number, bytes),
                           FaultPlace{FaultPlace::Download, number},
                           "data part " + std::to_string(number) + " of " + std::to_string(count) +
                               " of " + turnSubject,
                           false});
    }
}

CalculatorTurn CalculatorTurn::listing(const std::string& device,
                                       const std::vector<Storage::Listed>& entries,
                                       bool withFolders) {
    CalculatorTurn turn(Kind::Listing, "the files of " + device);
    unsigned number = 0;
    for (const Storage::Listed& entry : entries) {
        if (entry.name.empty() && !withFolders) {
            continue;
        }
        ++number;
        turn.packets.push_back({wire::typeCommand, wire::commandEntry,
                                wire::commandData(described(static_cast<uint32_t>(entry.size),
                                                            entry.folder, entry.name, device)),
                                FaultPlace{FaultPlace::Entry, number},
                                "listing entry " + std::to_string(number) + " (" +
                                    shown(device, entry.folder, entry.name) + ")",
                                false});
    }
    return turn;
}

CalculatorTurn CalculatorTurn::freeSpace(const std::string& device, long long freeBytes) {
    CalculatorTurn turn(Kind::FreeSpace, "the free space of " + device);
    turn.packets.push_back({wire::typeCommand, wire::commandFreeAnswer,
                            wire::commandData(described(clamped(freeBytes), "", "", device)),
                            std::nullopt, "the free space of " + device, false});
    return turn;
}

CalculatorTurn CalculatorTurn::items(const std::string& subject, const std::vector<Item>& items) {
    CalculatorTurn turn(Kind::Items, subject);
    for (const Item& item : items) {
        turn.packets.push_back(
            {wire::typeCommand, wire::commandItem,
             itemDescribed(item.item, static_cast<long long>(item.content.size())),
             FaultPlace{FaultPlace::Header, 0}, "the header of " + MainMemory::shown(item.item),
             false});
        turn.addParts(wire::commandItem, item.content);
    }
    return turn;
}

CalculatorTurn CalculatorTurn::itemListing(const std::vector<MainMemory::Listed>& entries) {
    CalculatorTurn turn(Kind::Listing, "the items of main memory");
    unsigned number = 0;
    for (const MainMemory::Listed& entry : entries) {
        ++number;
        turn.packets.push_back(
            {wire::typeCommand, wire::commandItemEntry, itemDescribed(entry.item, entry.size),
             FaultPlace{FaultPlace::Entry, number},
             "listing entry " + std::to_string(number) + " (" + MainMemory::shown(entry.item) + ")",
             false});
    }
    return turn;
}

CalculatorTurn CalculatorTurn::freeMemory(long long freeBytes) {
    CalculatorTurn turn(Kind::FreeSpace, "the free main memory");
    turn.packets.push_back({wire::typeCommand, wire::commandFreeMemoryAnswer,
                            wire::itemData({0, 0, clamped(freeBytes), "", "", ""}), std::nullopt,
                            "the free main memory", false});
    return turn;
}

Bytes CalculatorTurn::Outgoing::numbered(unsigned number) const {
    Bytes renumbered = data;
    Bytes digits;
    wire::appendHex(digits, number, 4);
    std::copy(digits.begin(), digits.end(), renumbered.begin() + 4);
    return wire::frameAsCalculator(type, subtype, renumbered);
}

const char* CalculatorTurn::downloadCommand() const {
    switch (turnKind) {
    case Kind::File:
        return "44";
    case Kind::Items:
        return "24 or 29";
    default:
        return nullptr;
    }
}

std::string CalculatorTurn::progress() const {
    return "after " + std::to_string(next) + " of " + std::to_string(packets.size()) + " packets";
}

const CalculatorTurn::Outgoing* CalculatorTurn::current() const {
    return next < packets.size() ? &packets[next] : nullptr;
}
