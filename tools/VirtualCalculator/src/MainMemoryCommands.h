#pragma once

#include "CommandOutcome.h"
#include "MainMemory.h"
#include "PacketReader.h"
#include "Report.h"

#include <optional>
#include <string>

// The main-memory commands: an item offered (25, with the overwrite question as for files),
// one item asked for (24), every item (29), deletion (26), the free main memory (2B) and the
// listing (2D). Items travel in the storage commands' layout: the type in the data type, the
// directory, name and group in fields 1 to 3; the commands on the whole memory carry every
// field empty. Refusals of what the host asked properly are notes; a command laid out wrongly
// is a violation, answered with the plain refusal.
class MainMemoryCommands {
public:
    // Room for items unless told otherwise, about what a monochrome model offers.
    static constexpr long long defaultCapacity = 64 * 1024;

    MainMemoryCommands(const MainMemory& memory, Report& report, long long capacity);

    static bool plays(uint8_t code);
    CommandOutcome play(const Packet& packet);

    // An item offered under the names of one held was refused with 15 02: the host may say to
    // replace it (06 01) or not (15 03).
    bool asking() const { return question.has_value(); }
    const std::string& askedAbout() const { return question->upload.shown(); }
    CommandOutcome answerQuestion(bool replace);
    void dropQuestion() { question.reset(); }

private:
    struct Offer {
        MainMemory::Item item;
        Upload upload;
    };

    // The item a command names, laid out as that command must; nothing, with `problem`.
    std::optional<wire::ParsedCommandData> commandData(const Packet& packet,
                                                       std::string& problem) const;
    CommandOutcome offered(const MainMemory::Item& item, unsigned mode, uint32_t size);
    CommandOutcome accept(Offer offer, long long replaced);
    CommandOutcome sendMe(const MainMemory::Item& item);
    CommandOutcome sendEveryItem();
    CommandOutcome remove(const MainMemory::Item& item);
    // Reports the violation; the host gets a plain refusal.
    CommandOutcome refuse(const std::string& violation);

    const MainMemory& memory;
    Report& report;
    long long capacity;
    std::optional<Offer> question;
};
