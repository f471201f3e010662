#include "MainMemoryCommands.h"

namespace {

constexpr unsigned modeAsk = 0x00;
constexpr unsigned modeStop = 0x01;
constexpr unsigned modeReplace = 0x02;
// The calculator keeps items in whole words.
constexpr uint32_t wordSize = 4;

std::string hexByte(uint8_t byte) {
    return wire::hexDump({byte});
}

CommandOutcome refused(uint8_t subtype) {
    return answered(wire::refusal(subtype));
}

bool onWholeMemory(uint8_t code) {
    return code == wire::commandSendMeAll || code == wire::commandFreeMemory ||
           code == wire::commandListItems;
}

MainMemory::Item itemOf(const wire::ParsedCommandData& data) {
    return {static_cast<uint8_t>(data.fields.dataType), data.fields.folder, data.fields.name,
            data.group};
}

} // namespace

MainMemoryCommands::MainMemoryCommands(const MainMemory& memory, Report& report, long long capacity)
    : memory(memory), report(report), capacity(capacity) {}

bool MainMemoryCommands::plays(uint8_t code) {
    return onWholeMemory(code) || code == wire::commandSendMeItem || code == wire::commandItem ||
           code == wire::commandDeleteItem;
}

CommandOutcome MainMemoryCommands::play(const Packet& packet) {
    std::string problem;
    const std::optional<wire::ParsedCommandData> data = commandData(packet, problem);
    if (!data) {
        return refuse(problem);
    }
    const MainMemory::Item item = itemOf(*data);
    switch (packet.subtype) {
    case wire::commandItem:
        return offered(item, data->fields.mode, data->fields.size);
    case wire::commandSendMeItem:
        return sendMe(item);
    case wire::commandDeleteItem:
        return remove(item);
    case wire::commandSendMeAll:
        return sendEveryItem();
    case wire::commandFreeMemory:
        return answered(wire::acknowledgement(),
                        CalculatorTurn::freeMemory(capacity - memory.used()));
    default:
        return answered(wire::acknowledgement(), CalculatorTurn::itemListing(memory.list()));
    }
}

std::optional<wire::ParsedCommandData> MainMemoryCommands::commandData(const Packet& packet,
                                                                       std::string& problem) const {
    const std::string name = "command " + hexByte(packet.subtype);
    std::optional<wire::ParsedCommandData> parsed = wire::parseCommandData(packet.data, problem);
    if (!parsed) {
        problem = name + ": " + problem;
        return std::nullopt;
    }
    const wire::CommandData& data = parsed->fields;
    const bool upload = packet.subtype == wire::commandItem;
    if (data.mode > (upload ? modeReplace : modeAsk)) {
        problem = name + " with overwrite mode " + hexByte(uint8_t(data.mode));
    } else if (!(data.device + parsed->otherFields).empty()) {
        problem =
            name + " with text in the unused fields 4 to 6: " + data.device + parsed->otherFields;
    } else if (onWholeMemory(packet.subtype) &&
               (data.dataType != 0 || data.size != 0 || !parsed->unusedFields.empty() ||
                !(data.folder + data.name).empty())) {
        problem = name + " is on the whole memory, but names an item, a type or a size";
    } else if (!onWholeMemory(packet.subtype) && data.name.empty()) {
        problem = name + " names no item";
    } else if (packet.subtype == wire::commandSendMeItem && data.size != 0) {
        problem = name + " with a size of " + std::to_string(data.size) + ", not 0";
    }
    if (!problem.empty()) {
        return std::nullopt;
    }
    return parsed;
}

// Refusals here are answers, not violations: the host asked properly for something the
// calculator cannot do.
CommandOutcome MainMemoryCommands::offered(const MainMemory::Item& item, unsigned mode,
                                           uint32_t size) {
    const std::string shown = MainMemory::shown(item);
    if (size % wordSize != 0) {
        report.note("refused " + shown + ": " + std::to_string(size) +
                    " bytes are not a whole number of 4-byte words");
        return refused(wire::refusedError);
    }
    const MainMemory* items = &memory;
    Offer offer{item, Upload(
                          memory.pathOf(item), shown, size,
                          [items, item](const Bytes& bytes) { return items->store(item, bytes); },
                          wire::commandItem)};
    if (offer.upload.partCount() > wire::mostParts) {
        report.note("refused " + shown + ": " + std::to_string(size) +
                    " bytes need more than 65535 parts");
        return refused(wire::refusedFull);
    }
    const bool exists = memory.has(item);
    if (exists && (mode == modeAsk || mode == modeStop)) {
        report.note("refused " + shown + ": it exists; asking whether to replace it");
        question = std::move(offer);
        return refused(wire::refusedExists);
    }
    return accept(std::move(offer), exists ? memory.sizeOf(item) : 0);
}

CommandOutcome MainMemoryCommands::answerQuestion(bool replace) {
    Offer offer = std::move(*question);
    question.reset();
    if (!replace) {
        report.note("the host chose not to replace " + offer.upload.shown());
        return answered(wire::acknowledgement());
    }
    const long long replaced = memory.sizeOf(offer.item);
    return accept(std::move(offer), replaced);
}

CommandOutcome MainMemoryCommands::accept(Offer offer, long long replaced) {
    const Upload& upload = offer.upload;
    const long long total = memory.used() - replaced + static_cast<long long>(upload.size());
    if (total > capacity) {
        report.note("refused " + upload.shown() + ": " + std::to_string(total) +
                    " bytes would not fit in " + std::to_string(capacity));
        return refused(wire::refusedFull);
    }
    report.note("accepted " + upload.shown() + ": " + std::to_string(upload.size()) + " bytes in " +
                std::to_string(upload.partCount()) + " parts");
    CommandOutcome outcome = answered(wire::acknowledgement());
    // An empty item is complete at once: no part follows.
    if (upload.complete()) {
        upload.store(report);
    } else {
        outcome.upload = std::move(offer.upload);
    }
    return outcome;
}

CommandOutcome MainMemoryCommands::sendMe(const MainMemory::Item& item) {
    const std::optional<Bytes> content = memory.has(item) ? memory.read(item) : std::nullopt;
    if (!content) {
        report.note("refused to send " + MainMemory::shown(item) + ": no such item");
        return refused(wire::refusedError);
    }
    report.note("will send " + MainMemory::shown(item) + " (" + std::to_string(content->size()) +
                " bytes) after the role swap");
    return answered(wire::acknowledgement(),
                    CalculatorTurn::items(MainMemory::shown(item), {{item, *content}}));
}

CommandOutcome MainMemoryCommands::sendEveryItem() {
    std::vector<CalculatorTurn::Item> items;
    for (const MainMemory::Listed& listed : memory.list()) {
        const std::optional<Bytes> content = memory.read(listed.item);
        if (!content) {
            report.failure("could not read " + memory.pathOf(listed.item));
            return refused(wire::refusedError);
        }
        items.push_back({listed.item, *content});
    }
    report.note("will send " + std::to_string(items.size()) + " items after the role swap");
    return answered(wire::acknowledgement(), CalculatorTurn::items("every item", items));
}

CommandOutcome MainMemoryCommands::remove(const MainMemory::Item& item) {
    if (!memory.has(item)) {
        report.note("refused to delete " + MainMemory::shown(item) + ": no such item");
        return refused(wire::refusedError);
    }
    if (!memory.remove(item)) {
        report.failure("could not delete " + memory.pathOf(item));
        return refused(wire::refusedError);
    }
    report.note("deleted " + memory.pathOf(item));
    return answered(wire::acknowledgement());
}

CommandOutcome MainMemoryCommands::refuse(const std::string& violation) {
    report.violation(violation);
    return refused(wire::refusedPlain);
}
