#include "StorageCommands.h"

#include <algorithm>

namespace {

constexpr unsigned modeAsk = 0x00;
constexpr unsigned modeStop = 0x01;
constexpr unsigned modeReplace = 0x02;
constexpr unsigned plainDataType = 0x00;
constexpr unsigned uploaderDataType = 0x05; // what the uploader has always sent with 45
constexpr uint8_t codes[] = {wire::commandFile, wire::commandSendMe, wire::commandDelete,
                             wire::commandFree, wire::commandList,   wire::commandOptimize};

std::string hexByte(uint8_t byte) {
    return wire::hexDump({byte});
}

std::string shownPath(const std::string& device, const std::string& folder,
                      const std::string& file) {
    return device + "/" + (folder.empty() ? "" : folder + "/") + file;
}

CommandOutcome acknowledged() {
    return answered(wire::acknowledgement());
}

CommandOutcome refused(uint8_t subtype) {
    return answered(wire::refusal(subtype));
}

} // namespace

StorageCommands::StorageCommands(const Storage& storage, Report& report, Rules rules)
    : storage(storage), report(report), rules(std::move(rules)) {}

bool StorageCommands::plays(uint8_t code) {
    return std::find(std::begin(codes), std::end(codes), code) != std::end(codes);
}

CommandOutcome StorageCommands::play(const Packet& packet) {
    std::string problem;
    const std::optional<wire::CommandData> data = commandData(packet, problem);
    if (!data) {
        return refuse(problem);
    }
    switch (packet.subtype) {
    case wire::commandFile:
        return fileRequest(*data);
    case wire::commandSendMe:
        return sendMe(*data);
    case wire::commandDelete:
        return remove(*data);
    case wire::commandFree:
        return freeSpace(*data);
    case wire::commandList:
        return list(*data);
    default:
        return optimize(*data);
    }
}

// The layout every storage command shares, and the fields this command may carry.
std::optional<wire::CommandData> StorageCommands::commandData(const Packet& packet,
                                                              std::string& problem) const {
    const std::string name = "command " + hexByte(packet.subtype);
    std::optional<wire::ParsedCommandData> parsed = wire::parseCommandData(packet.data, problem);
    if (!parsed) {
        problem = name + ": " + problem;
        return std::nullopt;
    }
    const wire::CommandData& data = parsed->fields;
    const bool upload = packet.subtype == wire::commandFile;
    const bool namesFile =
        upload || packet.subtype == wire::commandSendMe || packet.subtype == wire::commandDelete;
    if (data.mode > modeReplace) {
        problem = name + " with overwrite mode " + hexByte(uint8_t(data.mode)) + ", not 00 to 02";
    } else if (data.dataType != plainDataType && !(upload && data.dataType == uploaderDataType)) {
        problem = name + " with data type " + hexByte(uint8_t(data.dataType));
    } else if (!parsed->unusedFields.empty()) {
        problem = name + " with text in the unused fields 3, 4 or 6: " + parsed->unusedFields;
    } else if (!namesFile && !(data.folder + data.name).empty()) {
        problem = name + " names a folder or file, which it does not take: " +
                  shownPath(data.device, data.folder, data.name);
    }
    if (!problem.empty()) {
        return std::nullopt;
    }
    return data;
}

bool StorageCommands::deviceThere(const std::string& device, const std::string& what) {
    if (storage.hasDevice(device)) {
        return true;
    }
    report.note("refused " + what + ": no storage device \"" + device + "\"");
    return false;
}

// Refusals here are answers, not violations: the host asked properly for something the
// calculator cannot do.
CommandOutcome StorageCommands::fileRequest(const wire::CommandData& data) {
    const std::string shown = shownPath(data.device, data.folder, data.name);
    if (!deviceThere(data.device, shown)) {
        return refused(wire::refusedError);
    }
    if (!Storage::isPlainName(data.name) ||
        (!data.folder.empty() && !Storage::isPlainName(data.folder))) {
        report.note("refused \"" + shown + "\": not a plain folder and file name");
        return refused(wire::refusedOverwrite);
    }
    const std::string path = storage.pathOf(data.device, data.folder, data.name);
    const Storage* files = &storage;
    Offer offer{Upload(path, shown, data.size,
                       [files, path](const Bytes& bytes) { return files->store(path, bytes); }),
                data.device};
    if (offer.offered.partCount() > wire::mostParts) {
        report.note("refused " + shown + ": " + std::to_string(data.size) +
                    " bytes need more than 65535 parts");
        return refused(wire::refusedFull);
    }
    const Storage::Entry existing = storage.lookup(path);
    const Storage::Entry folder = storage.lookup(storage.pathOf(data.device, "", data.folder));
    if (existing == Storage::Entry::Directory || existing == Storage::Entry::Other ||
        (folder != Storage::Entry::Directory && folder != Storage::Entry::Missing)) {
        report.note("refused " + shown + ": something other than a file or folder is in the way");
        return refused(wire::refusedOverwrite);
    }
    if (existing == Storage::Entry::File && (data.mode == modeAsk || data.mode == modeStop)) {
        report.note("refused " + shown + ": it exists; asking whether to replace it");
        question = std::move(offer);
        return refused(wire::refusedExists);
    }
    const long long replaced = existing == Storage::Entry::File ? storage.sizeOf(path) : 0;
    return accept(std::move(offer), replaced);
}

CommandOutcome StorageCommands::answerQuestion(bool replace) {
    Offer offer = std::move(*question);
    question.reset();
    if (!replace) {
        report.note("the host chose not to replace " + offer.offered.shown());
        return acknowledged();
    }
    const long long replaced = storage.sizeOf(offer.offered.path());
    return accept(std::move(offer), replaced);
}

CommandOutcome StorageCommands::accept(Offer offer, long long replaced) {
    const Upload& offered = offer.offered;
    const long long total =
        storage.used(offer.device) - replaced + static_cast<long long>(offered.size());
    if (total > rules.capacity) {
        report.note("refused " + offered.shown() + ": " + std::to_string(total) +
                    " bytes would not fit in " + std::to_string(rules.capacity));
        return refused(wire::refusedFull);
    }
    if (offered.size() == 0) {
        report.note("accepted " + offered.shown() +
                    " with 0 bytes: no part follows, nothing to store");
        return acknowledged();
    }
    report.note("accepted " + offered.shown() + ": " + std::to_string(offered.size()) +
                " bytes in " + std::to_string(offered.partCount()) + " parts");
    CommandOutcome outcome = acknowledged();
    outcome.upload = std::move(offer.offered);
    return outcome;
}

std::optional<std::string> StorageCommands::existingFile(const wire::CommandData& data,
                                                         const std::string& what) {
    const std::string shown = shownPath(data.device, data.folder, data.name);
    if (!deviceThere(data.device, what + " " + shown)) {
        return std::nullopt;
    }
    const bool plain = Storage::isPlainName(data.name) &&
                       (data.folder.empty() || Storage::isPlainName(data.folder));
    const std::string path = storage.pathOf(data.device, data.folder, data.name);
    if (!plain || storage.lookup(path) != Storage::Entry::File) {
        report.note("refused " + what + " " + shown + ": no such file");
        return std::nullopt;
    }
    return path;
}

CommandOutcome StorageCommands::sendMe(const wire::CommandData& data) {
    const std::optional<std::string> path = existingFile(data, "to send");
    if (!path) {
        return refused(wire::refusedError);
    }
    const std::optional<Bytes> content = storage.read(*path);
    if (!content) {
        report.failure("could not read " + *path);
        return refused(wire::refusedError);
    }
    if (content->size() > wire::mostParts * wire::partSize) {
        report.note("refused to send " + *path + ": " + std::to_string(content->size()) +
                    " bytes need more than 65535 parts");
        return refused(wire::refusedError);
    }
    const CalculatorTurn::FileFlaws flaws =
        flawsUsed ? CalculatorTurn::FileFlaws{} : rules.fileFlaws;
    flawsUsed = true;
    CommandOutcome outcome = acknowledged();
    outcome.turn = CalculatorTurn::file(data.device, data.folder, data.name, *content, flaws);
    report.note("will send " + outcome.turn->subject() + " (" + std::to_string(content->size()) +
                " bytes) after the role swap");
    return outcome;
}

CommandOutcome StorageCommands::remove(const wire::CommandData& data) {
    const std::optional<std::string> path = existingFile(data, "to delete");
    if (!path) {
        return refused(wire::refusedError);
    }
    if (!storage.remove(*path)) {
        report.failure("could not delete " + *path);
        return refused(wire::refusedError);
    }
    report.note("deleted " + *path);
    return acknowledged();
}

CommandOutcome StorageCommands::freeSpace(const wire::CommandData& data) {
    if (!deviceThere(data.device, "the free space")) {
        return refused(wire::refusedError);
    }
    CommandOutcome outcome = acknowledged();
    outcome.turn =
        CalculatorTurn::freeSpace(data.device, rules.capacity - storage.used(data.device));
    return outcome;
}

CommandOutcome StorageCommands::list(const wire::CommandData& data) {
    if (!deviceThere(data.device, "the listing")) {
        return refused(wire::refusedError);
    }
    CommandOutcome outcome = acknowledged();
    outcome.turn =
        CalculatorTurn::listing(data.device, storage.list(data.device), rules.listFolders);
    return outcome;
}

CommandOutcome StorageCommands::optimize(const wire::CommandData& data) {
    if (!deviceThere(data.device, "the optimization")) {
        return refused(wire::refusedError);
    }
    report.note("optimized " + data.device);
    CommandOutcome outcome = acknowledged();
    outcome.work = rules.optimizeDelay;
    return outcome;
}

CommandOutcome StorageCommands::refuse(const std::string& violation) {
    report.violation(violation);
    return refused(wire::refusedPlain);
}
