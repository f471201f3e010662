#include "InfoCommand.h"

#include "CasioStorage.h"
#include "Log.h"
#include "StandardOutput.h"

#include <vector>

const CommandHelp infoHelp = {
    "show what the calculator is",
    "Prints what the calculator tells about itself, one 'Label: value' line each:\n"
    "hardware, processor, OS and boot code versions, flash and RAM, protocol, product\n"
    "and user. Of a calculator that connects as a USB drive, what its USB strings and\n"
    "its file system tell: product, serial, file system, label and size.",
    {noEjectOption}};

namespace {

std::string capacity(long kibibytes) {
    return kibibytes < 0 ? "unknown" : std::to_string(kibibytes) + " KiB";
}

void printFields(const std::vector<std::pair<const char*, std::string>>& fields) {
    for (const auto& [label, value] : fields) {
        StandardOutput::printLine(std::string(label) + ": " + value);
    }
}

} // namespace

int InfoCommand::run(CommandContext& context) const {
    CasioDeviceInfo info{};
    if (CasioStorage::readDeviceInfo(context.socket(), &info)) {
        Log::error("Can't read what the calculator is");
        return exitFailed;
    }
    printFields({
        {"Hardware ID", info.hardwareId},
        {"Processor", info.processor},
        {"OS version", info.osVersion},
        {"Boot code version", info.bootVersion},
        {"Flash", capacity(info.flashKiB)},
        {"RAM", capacity(info.ramKiB)},
        {"Protocol", info.protocolVersion},
        {"Product ID", info.productId},
        {"User name", info.userName},
    });
    return StandardOutput::finish() ? exitDone : exitFailed;
}

// The labels a drive can fill, and only those.
int InfoCommand::runOnDrive(DriveContext& context) const {
    const DriveFiles* files = context.files();
    DriveSpace space;
    if (files == nullptr || !files->space(&space)) {
        return exitFailed;
    }
    const DriveDevice& device = context.mount().device();
    std::vector<std::pair<const char*, std::string>> fields;
    const auto add = [&fields](const char* label, const std::string& value) {
        if (!value.empty()) {
            fields.emplace_back(label, value);
        }
    };
    add("Product", context.calculator.product);
    add("Serial", context.calculator.serial);
    add("File system", device.version.empty() ? device.type : device.type + " " + device.version);
    add("Volume label", device.label);
    add("Flash", capacity(static_cast<long>(space.total / 1024)));
    printFields(fields);
    return StandardOutput::finish() ? exitDone : exitFailed;
}
