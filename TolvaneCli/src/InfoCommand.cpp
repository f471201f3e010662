#include "InfoCommand.h"

#include "CasioStorage.h"
#include "Log.h"
#include "StandardOutput.h"

namespace {

std::string capacity(long kibibytes) {
    return kibibytes < 0 ? "unknown" : std::to_string(kibibytes) + " KiB";
}

} // namespace

int runInfo(CommandContext& context) {
    Socket* socket = context.openLink();
    if (socket == nullptr) {
        return exitFailed;
    }
    CasioDeviceInfo info{};
    if (CasioStorage::readDeviceInfo(socket, &info)) {
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
