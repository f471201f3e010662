#include "InfoCommand.h"

#include "CasioStorage.h"
#include "Log.h"
#include "StandardOutput.h"

const CommandHelp infoHelp = {
    "show what the calculator is",
    "Prints what the calculator tells about itself, one 'Label: value' line each:\n"
    "hardware, processor, OS and boot code versions, flash and RAM, protocol, product\n"
    "and user.",
    {}};

namespace {

std::string capacity(long kibibytes) {
    return kibibytes < 0 ? "unknown" : std::to_string(kibibytes) + " KiB";
}

} // namespace

int InfoCommand::run(CommandContext& context) const {
    CasioDeviceInfo info{};
    if (CasioStorage::readDeviceInfo(context.socket(), &info)) {
        Log::error("Can't read what the calculator is");
        return exitFailed;
    }
    const std::pair<const char*, std::string> fields[] = {
        {"Hardware ID", info.hardwareId},   {"Processor", info.processor},
        {"OS version", info.osVersion},     {"Boot code version", info.bootVersion},
        {"Flash", capacity(info.flashKiB)}, {"RAM", capacity(info.ramKiB)},
        {"Protocol", info.protocolVersion}, {"Product ID", info.productId},
        {"User name", info.userName},
    };
    for (const auto& [label, value] : fields) {
        StandardOutput::printLine(std::string(label) + ": " + value);
    }
    return StandardOutput::finish() ? exitDone : exitFailed;
}
