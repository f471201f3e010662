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
    const uint32_t count =
        static_cast<uint32_t>((content.size() + wire::partSize - 1) / wire::partSize);
    for (uint32_t number = 1; number <= count; ++number) {
        const size_t begin = (number - 1) * wire::partSize;
        const size_t end = std::min(content.size(), begin + wire::partSize);
        const Bytes bytes(content.begin() + static_cast<long>(begin),
                          content.begin() + static_cast<long>(end));
        turn.packets.push_back({wire::typeData, wire::commandFile,
                                wire::partData(count, number, bytes),
                                FaultPlace{FaultPlace::Download, number},
                                "data part " + std::to_string(number) + " of " +
                                    std::to_string(count) + " of " + turn.turnSubject,
                                false});
    }
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
    const uint32_t free = static_cast<uint32_t>(std::clamp(freeBytes, 0LL, 0xFFFFFFFFLL));
    turn.packets.push_back({wire::typeCommand, wire::commandFreeAnswer,
                            wire::commandData(described(free, "", "", device)), std::nullopt,
                            "the free space of " + device, false});
    return turn;
}

const CalculatorTurn::Outgoing* CalculatorTurn::current() const {
    return next < packets.size() ? &packets[next] : nullptr;
}
