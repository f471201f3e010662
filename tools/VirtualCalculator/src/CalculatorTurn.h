#pragma once

#include "Faults.h"
#include "MainMemory.h"
#include "Storage.h"
#include "Wire.h"

#include <optional>
#include <string>
#include <vector>

// What the calculator sends once the host has handed it the active role: a file (its 45
// header, then its data parts), a listing (one 4E per entry) or the free space (one 4C);
// main-memory items (each a 25 header, then its data parts), their listing (one 2E each) or
// the free main memory (one 2C). One packet at a time, each acknowledged before the next. Its
// own role swap follows the last.
class CalculatorTurn {
public:
    enum class Kind { File, Listing, FreeSpace, Items };

    struct Outgoing {
        uint8_t type = 0;
        uint8_t subtype = 0;
        Bytes data;
        std::optional<FaultPlace> place;
        std::string what;             // for messages
        bool beyondAnnounced = false; // a data part past the announced count
        Bytes packet() const { return wire::frameAsCalculator(type, subtype, data); }
        // The packet as if out of order: its part number (data bytes 4-7) made `number`.
        Bytes numbered(unsigned number) const;
    };

    // Deliberate flaws in the next file sent, for hosts to survive.
    struct FileFlaws {
        std::optional<uint32_t> announcedSize; // the header claims this size
        bool extraPart = false;                // one part more than announced
    };

    static CalculatorTurn file(const std::string& device, const std::string& folder,
                               const std::string& name, const Bytes& content,
                               const FileFlaws& flaws);
    static CalculatorTurn listing(const std::string& device,
                                  const std::vector<Storage::Listed>& entries, bool withFolders);
    static CalculatorTurn freeSpace(const std::string& device, long long freeBytes);
    struct Item {
        MainMemory::Item item;
        Bytes content;
    };
    static CalculatorTurn items(const std::string& subject, const std::vector<Item>& items);
    static CalculatorTurn itemListing(const std::vector<MainMemory::Listed>& entries);
    static CalculatorTurn freeMemory(long long freeBytes);

    // The command whose data phase the turn is, as messages name it; null for a listing or
    // the free space.
    const char* downloadCommand() const;
    const std::string& subject() const { return turnSubject; }
    bool started() const { return hasStarted; }
    void start() { hasStarted = true; }

    // The packet now due; nothing once every packet is acknowledged.
    const Outgoing* current() const;
    void acknowledged() { ++next; }
    size_t size() const { return packets.size(); }
    // "after N of M packets", for messages.
    std::string progress() const;

private:
    // The data parts of command `code` that carry `content`.
    void addParts(uint8_t code, const Bytes& content);

    CalculatorTurn(Kind kind, std::string subject)
        : turnKind(kind), turnSubject(std::move(subject)) {}

    Kind turnKind;
    std::string turnSubject;
    std::vector<Outgoing> packets;
    size_t next = 0;
    bool hasStarted = false;
};
