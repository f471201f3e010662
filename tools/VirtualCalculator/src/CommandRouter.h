#pragma once

#include "CalculatorSettings.h"
#include "CommandOutcome.h"
#include "MainMemory.h"
#include "MainMemoryCommands.h"
#include "PacketReader.h"
#include "Report.h"
#include "Storage.h"
#include "StorageCommands.h"

#include <optional>
#include <string>

// The commands a calculator takes while the host is the active side, each to what plays it:
// device information here, the storage commands to StorageCommands, the main-memory ones to
// MainMemoryCommands. Those a calculator knows and this one does not play are refused without
// a violation, as is storage on a model that has none.
class CommandRouter {
public:
    CommandRouter(const Storage& storage, Report& report, const CalculatorSettings& settings);

    CommandOutcome play(const Packet& packet);

    // What the host is asked whether to replace, if anything.
    std::optional<std::string> askedAbout() const;
    CommandOutcome answerQuestion(bool replace);
    void dropQuestions();

private:
    CommandOutcome deviceInfo(const Packet& packet);
    // Reports the violation; the host gets a plain refusal.
    CommandOutcome refuse(const std::string& violation);
    // Refused as a calculator refuses what it cannot do, with the reason noted.
    CommandOutcome decline(const std::string& reason);

    Report& report;
    long long capacity;
    bool longInfo;
    bool noStorageMemory;
    StorageCommands storageCommands;
    MainMemory mainMemory;
    MainMemoryCommands memoryCommands;
};
