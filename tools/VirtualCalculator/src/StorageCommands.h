#pragma once

#include "CalculatorTurn.h"
#include "CommandOutcome.h"
#include "PacketReader.h"
#include "Report.h"
#include "Storage.h"

#include <chrono>
#include <optional>
#include <string>

// The storage commands on the calculator's storage devices: a file offered (45, with the
// overwrite question), a file asked for (44), deletion (46), free space (4B), listing (4D)
// and optimization (51). Refusals of what the host asked properly are notes; a command laid
// out wrongly is a violation, answered with the plain refusal.
class StorageCommands {
public:
    struct Rules {
        long long capacity = 0; // bytes per storage device
        bool listFolders = false;
        std::chrono::milliseconds optimizeDelay{0};
        CalculatorTurn::FileFlaws fileFlaws; // for the first file sent
    };

    StorageCommands(const Storage& storage, Report& report, Rules rules);

    static bool plays(uint8_t code);
    CommandOutcome play(const Packet& packet);

    // A file offered under the name of one stored was refused with 15 02: the host may say
    // to replace it (06 01) or not (15 03).
    bool asking() const { return question.has_value(); }
    const std::string& askedAbout() const { return question->offered.shown(); }
    CommandOutcome answerQuestion(bool replace);
    void dropQuestion() { question.reset(); }

private:
    struct Offer {
        Upload offered;
        std::string device;
    };

    std::optional<wire::CommandData> commandData(const Packet& packet, std::string& problem) const;
    CommandOutcome fileRequest(const wire::CommandData& data);
    CommandOutcome accept(Offer offer, long long replaced);
    CommandOutcome sendMe(const wire::CommandData& data);
    CommandOutcome remove(const wire::CommandData& data);
    CommandOutcome freeSpace(const wire::CommandData& data);
    CommandOutcome list(const wire::CommandData& data);
    CommandOutcome optimize(const wire::CommandData& data);
    // The path of an existing file the command names; nothing, with a note, otherwise.
    std::optional<std::string> existingFile(const wire::CommandData& data, const std::string& what);
    bool deviceThere(const std::string& device, const std::string& what);
    // Reports the violation; the host gets a plain refusal.
    CommandOutcome refuse(const std::string& violation);

    const Storage& storage;
    Report& report;
    Rules rules;
    bool flawsUsed = false; // the file flaws strike once
    std::optional<Offer> question;
};
