#include "CommandRouter.h"

#include "DeviceInfo.h"

#include <algorithm>

namespace {

// Commands a calculator knows and this one does not play: refused, not a violation. Folders,
// renaming and copying, in storage and in main memory, and the setup entries.
constexpr uint8_t unplayedCommands[] = {0x40, 0x41, 0x47, 0x48, 0x20, 0x21,
                                        0x22, 0x23, 0x27, 0x28, 0x31, 0x33};

std::string mainMemoryRoot(const std::string& given, const Storage& storage) {
    return given.empty() ? storage.root() + "/@MainMem" : given;
}

std::string commandName(uint8_t code) {
    return "command " + wire::hexDump({code});
}

} // namespace

CommandRouter::CommandRouter(const Storage& storage, Report& report,
                             const CalculatorSettings& settings)
    : report(report), capacity(settings.capacity), longInfo(settings.longInfo),
      noStorageMemory(settings.noStorageMemory),
      storageCommands(
          storage, report,
          {settings.capacity, settings.listFolders, settings.optimizeDelay, settings.fileFlaws}),
      mainMemory(mainMemoryRoot(settings.mainMemory, storage)),
      memoryCommands(mainMemory, report, settings.mainMemoryCapacity) {}

CommandOutcome CommandRouter::play(const Packet& packet) {
    const uint8_t code = packet.subtype;
    if (code == wire::commandInfo) {
        return deviceInfo(packet);
    }
    if (std::find(std::begin(unplayedCommands), std::end(unplayedCommands), code) !=
        std::end(unplayedCommands)) {
        return decline(commandName(code) + " is not played here: refused");
    }
    if (StorageCommands::plays(code)) {
        return noStorageMemory
                   ? decline(commandName(code) + " refused: this model has no storage memory")
                   : storageCommands.play(packet);
    }
    if (MainMemoryCommands::plays(code)) {
        return memoryCommands.play(packet);
    }
    if (code == wire::commandResetMemory) {
        return refuse("command 2A, the reset of main memory, which no host may send: ignored");
    }
    return refuse("unknown " + commandName(code));
}

std::optional<std::string> CommandRouter::askedAbout() const {
    if (storageCommands.asking()) {
        return storageCommands.askedAbout();
    }
    if (memoryCommands.asking()) {
        return memoryCommands.askedAbout();
    }
    return std::nullopt;
}

CommandOutcome CommandRouter::answerQuestion(bool replace) {
    return storageCommands.asking() ? storageCommands.answerQuestion(replace)
                                    : memoryCommands.answerQuestion(replace);
}

void CommandRouter::dropQuestions() {
    storageCommands.dropQuestion();
    memoryCommands.dropQuestion();
}

CommandOutcome CommandRouter::deviceInfo(const Packet& packet) {
    if (!packet.data.empty()) {
        return refuse("device information command with " + std::to_string(packet.data.size()) +
                      " bytes of extended data");
    }
    return answered(wire::frameAsCalculator(wire::typeAck, wire::ackInfo,
                                            DeviceInfo::block(capacity, longInfo)));
}

CommandOutcome CommandRouter::refuse(const std::string& violation) {
    report.violation(violation);
    return answered(wire::refusal(wire::refusedPlain));
}

CommandOutcome CommandRouter::decline(const std::string& reason) {
    report.note(reason);
    return answered(wire::refusal(wire::refusedError));
}
