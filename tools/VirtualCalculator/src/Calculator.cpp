#include "Calculator.h"

#include "DeviceInfo.h"

#include <algorithm>

namespace {

constexpr uint8_t gapByte = 0x00;
constexpr unsigned modeAsk = 0x00;
constexpr unsigned modeStop = 0x01;
constexpr unsigned modeReplace = 0x02;
constexpr unsigned plainDataType = 0x00;
constexpr unsigned uploaderDataType = 0x05; // what the uploader has always sent with 45
constexpr uint8_t lastTerminateSubtype = 0x03;
// Commands a calculator knows and this one does not play: refused, not a violation.
constexpr uint8_t unplayedCommands[] = {0x40, 0x41, 0x47, 0x48};

std::string hexByte(uint8_t byte) {
    return wire::hexDump({byte});
}

std::string shownPath(const std::string& device, const std::string& folder,
                      const std::string& file) {
    return device + "/" + (folder.empty() ? "" : folder + "/") + file;
}

std::optional<FaultPlace> placeOf(const Packet& packet) {
    switch (packet.type) {
    case wire::typeCheck:
        return FaultPlace{FaultPlace::Connect, 0};
    case wire::typeCommand:
        if (packet.subtype == wire::commandFile) {
            return FaultPlace{FaultPlace::Request, 0};
        }
        return FaultPlace{FaultPlace::Command, packet.subtype};
    case wire::typeTerminate:
        return FaultPlace{FaultPlace::Disconnect, 0};
    case wire::typeData:
        if (const std::optional<unsigned> part = wire::readHex(packet.data, 4, 4)) {
            return FaultPlace{FaultPlace::Part, *part};
        }
        return std::nullopt;
    default:
        return std::nullopt;
    }
}

bool spoilsAnswer(const Fault& fault) {
    return fault.kind == Fault::Corrupt || fault.kind == Fault::Short ||
           fault.kind == Fault::Answer;
}

Bytes withWrongChecksum(Bytes packet) {
    packet.back() = packet.back() == '0' ? '1' : '0';
    return packet;
}

Bytes spoiledAnswer(const Fault& fault, const std::optional<Bytes>& genuine) {
    const Bytes answer = genuine ? *genuine : wire::acknowledgement();
    switch (fault.kind) {
    case Fault::Corrupt:
        return withWrongChecksum(answer);
    case Fault::Short:
        return Bytes(answer.begin(), answer.begin() + static_cast<long>(std::min(fault.shortLength,
                                                                                 answer.size())));
    default:
        return fault.answer;
    }
}

std::string faultName(const Fault& fault) {
    static const char* const names[] = {"resend",  "silent", "unplug", "refuse",
                                        "corrupt", "short",  "answer", "misnumber"};
    return names[fault.kind];
}

bool isPlainAck(const Packet& packet) {
    return packet.type == wire::typeAck && packet.subtype == wire::ackPlain && packet.data.empty();
}

AnswerQueue::Subject subjectOf(const Packet& packet, bool taken) {
    if (packet.type != wire::typeData) {
        return AnswerQueue::Subject::Other;
    }
    return taken ? AnswerQueue::Subject::TakenPart : AnswerQueue::Subject::UntakenPart;
}

std::string partName(const Packet& packet) {
    const std::optional<unsigned> number = wire::readHex(packet.data, 4, 4);
    return number ? "part " + std::to_string(*number) : "a part";
}

bool isResendRequest(const Packet& packet) {
    return packet.type == wire::typeRefusal && packet.subtype == wire::refusedResend;
}

} // namespace

Calculator::Calculator(const Storage& storage, Report& report, Settings settings, FaultPlan faults)
    : storage(storage), report(report), settings(std::move(settings)), faults(std::move(faults)),
      answers(this->settings.turnarounds, this->settings.now) {}

void Calculator::received(const Bytes& bytes) {
    if (phase == Phase::Terminated) {
        report.violation("bytes after the terminate: " + wire::hexDump(bytes));
        return;
    }
    Bytes transfer = bytes;
    // Before the connection the host may send a lone zero byte between packets.
    if (phase == Phase::Idle && reader.waiting().empty() && !transfer.empty() &&
        transfer.front() == gapByte) {
        transfer.erase(transfer.begin());
    }
    for (const Frame& frame : reader.take(transfer)) {
        onFrame(frame);
    }
}

void Calculator::onFrame(const Frame& frame) {
    if (isCopyOfLast(frame.raw)) {
        report.note("the host sent its last packet again; answering it again");
        last.answerSpoiled = false;
        answers.clear();
        if (last.answer) {
            owe(*last.answer, last.subject, true);
        }
        return;
    }
    if (isPipelinedPart(frame)) {
        takePipelined(frame);
        return;
    }
    // A host may end the link without reading what it no longer wants.
    const bool terminating = frame.packet && frame.packet->type == wire::typeTerminate;
    if (answerUnread() && !terminating) {
        report.violation("a packet came while the answer to the one before was still unread: " +
                         wire::hexDump(frame.raw));
    }
    answers.clear();
    if (!frame.packet) {
        last = LastPacket{frame.raw, true, std::nullopt, false};
        last.answer = refuse(frame.problem + ": " + wire::hexDump(frame.raw));
        owe(*last.answer, AnswerQueue::Subject::Other, true);
        return;
    }
    handle(*frame.packet, frame.raw);
}

bool Calculator::answerUnread() const {
    return !answers.empty() && !hostGaveUp;
}

// In the data phase of an upload the next part may come before the answer to the one
// before it has been read.
bool Calculator::partsMayComeAhead() const {
    return upload && answerUnread() && answers.onlyParts();
}

bool Calculator::isPipelinedPart(const Frame& frame) const {
    return frame.packet && frame.packet->type == wire::typeData && partsMayComeAhead();
}

void Calculator::takePipelined(const Frame& frame) {
    const bool behindUntaken = answers.holdsUntakenPart();
    if (!settings.cannotPipeline && !behindUntaken) {
        handle(*frame.packet, frame.raw);
        return;
    }
    // Once a part is on the wire behind one that was not taken, the host cannot mend the
    // order: it must send the parts again, or start over.
    report.note(
        partName(*frame.packet) + " came pipelined" +
        (behindUntaken ? " behind a part that was not taken" : ", which this link cannot take") +
        ": asked for it again (15 01), not taken");
    last = LastPacket{frame.raw, false, std::nullopt, false};
    owe(wire::refusal(wire::refusedResend), AnswerQueue::Subject::UntakenPart, false);
}

bool Calculator::isCopyOfLast(const Bytes& raw) const {
    return last.processed && last.answerSpoiled && raw == last.raw;
}

void Calculator::handle(const Packet& packet, const Bytes& raw) {
    last = LastPacket{raw, false, std::nullopt, false};
    const std::optional<FaultPlace> place = placeOf(packet);
    const std::optional<Fault> fault = place ? faults.take(*place) : std::nullopt;
    if (fault) {
        report.note("fault " + faultName(*fault) + " at " + place->describe());
        switch (fault->kind) {
        case Fault::Unplug:
            gone = true;
            return;
        case Fault::Resend:
        case Fault::Refuse:
            // Not taken: a copy sent again is a new packet.
            owe(wire::refusal(fault->kind == Fault::Resend ? wire::refusedResend
                                                           : fault->refusalSubtype),
                subjectOf(packet, false), false);
            return;
        case Fault::Silent:
            silentTransfers = fault->silentTransfers == 0 ? -1 : long(fault->silentTransfers);
            break;
        default:
            break;
        }
    }
    const unsigned long takenBefore = partsTaken;
    last.answer = process(packet);
    last.processed = true;
    last.subject = subjectOf(packet, partsTaken != takenBefore);
    if (last.answer) {
        lastSentIntact = last.answer;
    }
    if (fault && spoilsAnswer(*fault)) {
        owe(spoiledAnswer(*fault, last.answer), last.subject, false);
        last.answerSpoiled = true;
    } else if (flawedSend) {
        owe(*flawedSend, last.subject, true);
    } else if (last.answer) {
        owe(*last.answer, last.subject, true);
    }
    flawedSend.reset();
}

std::optional<Bytes> Calculator::process(const Packet& packet) {
    if (packet.type == wire::typeTerminate) {
        return terminate(packet);
    }
    if (phase == Phase::Idle && packet.type != wire::typeCheck) {
        return refuse("packet " + hexByte(packet.type) + " " + hexByte(packet.subtype) +
                      " before any acknowledged connect request");
    }
    if (isResendRequest(packet)) {
        return resendLast();
    }
    return turn && turn->started() ? duringTurn(packet) : hostActive(packet);
}

std::optional<Bytes> Calculator::hostActive(const Packet& packet) {
    if (overwriteAsked) {
        if ((packet.type == wire::typeAck && packet.subtype == wire::ackOverwrite) ||
            (packet.type == wire::typeRefusal && packet.subtype == wire::refusedOverwrite)) {
            return overwriteAnswer(packet);
        }
        // The host may leave the question unanswered and go on (the old uploader terminates).
        report.note("the host did not answer whether to replace " + overwriteAsked->shown);
        overwriteAsked.reset();
    }
    if (turn && packet.type != wire::typeRoleSwap) {
        return refuse("packet " + hexByte(packet.type) + " " + hexByte(packet.subtype) +
                      " where the role swap was due, to receive " + turn->subject());
    }
    switch (packet.type) {
    case wire::typeCheck:
        return check(packet);
    case wire::typeCommand:
        return command(packet);
    case wire::typeData:
        return filePart(packet);
    case wire::typeRoleSwap:
        return roleSwap();
    case wire::typeAck:
        return refuse("an acknowledgement from the host, which nothing asked for");
    default:
        return refuse("unknown packet type " + hexByte(packet.type));
    }
}

// While the calculator is the active side the host only acknowledges, asks again (handled
// before) or terminates (handled before).
std::optional<Bytes> Calculator::duringTurn(const Packet& packet) {
    const CalculatorTurn::Outgoing* current = turn->current();
    if (isPlainAck(packet)) {
        // A damaged packet must be asked for again. A well-made packet that makes no sense
        // (misnumbered, one too many) may be taken and dropped by the host: nothing else in
        // the protocol lets it say no and go on.
        if (flawIsDamage) {
            report.violation("the host acknowledged " + current->what + ", sent with " +
                             currentFlaw);
        } else if (!currentFlaw.empty() || current->beyondAnnounced) {
            report.note("the host acknowledged " + current->what + ", sent with " +
                        (currentFlaw.empty() ? "a part beyond the announced count" : currentFlaw));
        }
        turn->acknowledged();
        return sendCurrent();
    }
    if (packet.type == wire::typeRefusal && (!currentFlaw.empty() || current->beyondAnnounced)) {
        report.note("the host refused " + current->what +
                    (currentFlaw.empty() ? "" : ", sent with " + currentFlaw));
        if (current->beyondAnnounced) {
            turn->acknowledged();
            return sendCurrent();
        }
        // Sent again, through any fault still planned for its place.
        return sendCurrent();
    }
    if (packet.type == wire::typeRoleSwap) {
        report.violation("a role swap from the host while the calculator is the active side, "
                         "sending " +
                         current->what);
        return std::nullopt;
    }
    const std::string what =
        packet.type == wire::typeCommand
            ? "command " + hexByte(packet.subtype) + " while the calculator is the active side"
            : "packet " + hexByte(packet.type) + " " + hexByte(packet.subtype) +
                  " instead of an acknowledgement";
    return refuse(what + ", sending " + current->what);
}

std::optional<Bytes> Calculator::check(const Packet& packet) {
    if ((packet.subtype != wire::checkOpen && packet.subtype != wire::checkKeepAlive) ||
        !packet.data.empty()) {
        return refuse("connect request with subtype " + hexByte(packet.subtype) + " and " +
                      std::to_string(packet.data.size()) + " bytes of extended data");
    }
    if (packet.subtype == wire::checkKeepAlive && phase != Phase::Connected) {
        return refuse("keep-alive before any acknowledged connect request");
    }
    phase = Phase::Connected;
    return wire::acknowledgement();
}

std::optional<Bytes> Calculator::resendLast() {
    // The turn's packet now due is sent again through any fault still planned for its place.
    if (turn && turn->started() && turn->current() != nullptr) {
        return sendCurrent();
    }
    if (!lastSentIntact) {
        return refuse("a request to send again before the calculator sent anything");
    }
    currentFlaw.clear();
    flawIsDamage = false;
    return lastSentIntact;
}

std::optional<Bytes> Calculator::roleSwap() {
    if (!turn) {
        report.note("a role swap with nothing to send: the calculator hands the role back");
        return wire::frame(wire::typeRoleSwap, 0x00);
    }
    turn->start();
    return sendCurrent();
}

Bytes Calculator::sendCurrent() {
    currentFlaw.clear();
    flawIsDamage = false;
    const CalculatorTurn::Outgoing* current = turn->current();
    if (current == nullptr) {
        report.note("sent " + turn->subject() + ": " + std::to_string(turn->size()) +
                    " packets, all acknowledged");
        turn.reset();
        return wire::frame(wire::typeRoleSwap, 0x00);
    }
    const Bytes intact = current->packet();
    const std::optional<Fault> fault = current->place ? faults.take(*current->place) : std::nullopt;
    if (!fault) {
        return intact;
    }
    report.note("fault " + faultName(*fault) + " at " + current->place->describe());
    switch (fault->kind) {
    case Fault::Corrupt:
        currentFlaw = "a wrong checksum";
        flawIsDamage = true;
        flawedSend = withWrongChecksum(intact);
        break;
    case Fault::Misnumber: {
        const unsigned wrong = current->place->number + 1;
        currentFlaw = "the part number " + std::to_string(wrong);
        Bytes data = current->data;
        Bytes digits;
        wire::appendHex(digits, wrong, 4);
        std::copy(digits.begin(), digits.end(), data.begin() + 4);
        flawedSend = wire::frameAsCalculator(current->type, current->subtype, data);
        break;
    }
    case Fault::Silent:
        silentTransfers = fault->silentTransfers == 0 ? -1 : long(fault->silentTransfers);
        break;
    case Fault::Unplug:
        gone = true;
        break;
    default:
        break;
    }
    return intact;
}

std::optional<Bytes> Calculator::terminate(const Packet& packet) {
    if (packet.subtype > lastTerminateSubtype || !packet.data.empty()) {
        report.violation("terminate with subtype " + hexByte(packet.subtype) + " and " +
                         std::to_string(packet.data.size()) + " bytes of extended data");
    }
    if (upload) {
        abandonUpload("terminated");
    }
    if (turn) {
        report.note("terminated while " +
                    std::string(turn->started() ? "sending " : "about to send ") + turn->subject() +
                    ", after " + std::to_string(turn->acknowledgedCount()) + " of " +
                    std::to_string(turn->size()) + " packets");
        turn.reset();
    }
    overwriteAsked.reset();
    phase = Phase::Terminated;
    return wire::acknowledgement();
}

std::optional<Bytes> Calculator::overwriteAnswer(const Packet& packet) {
    Upload offered = std::move(*overwriteAsked);
    overwriteAsked.reset();
    if (packet.type == wire::typeRefusal) {
        report.note("the host chose not to replace " + offered.shown);
        return wire::acknowledgement();
    }
    return accept(std::move(offered), storage.sizeOf(offered.path));
}

std::optional<Bytes> Calculator::command(const Packet& packet) {
    if (upload) {
        return refuse("command " + hexByte(packet.subtype) + " while part " +
                      std::to_string(upload->nextPart) + " of " +
                      std::to_string(upload->partCount) + " of " + upload->path + " is due");
    }
    if (packet.subtype == wire::commandInfo) {
        return deviceInfo(packet);
    }
    if (std::find(std::begin(unplayedCommands), std::end(unplayedCommands), packet.subtype) !=
        std::end(unplayedCommands)) {
        report.note("command " + hexByte(packet.subtype) + " is not played here: refused");
        return wire::refusal(wire::refusedError);
    }
    using Handler = Bytes (Calculator::*)(const wire::CommandData&);
    static const std::pair<uint8_t, Handler> handlers[] = {
        {wire::commandFile, &Calculator::fileRequest},
        {wire::commandSendMe, &Calculator::sendMe},
        {wire::commandDelete, &Calculator::remove},
        {wire::commandFree, &Calculator::freeSpace},
        {wire::commandList, &Calculator::list},
        {wire::commandOptimize, &Calculator::optimize}};
    const auto handler =
        std::find_if(std::begin(handlers), std::end(handlers),
                     [&](const auto& entry) { return entry.first == packet.subtype; });
    if (handler == std::end(handlers)) {
        return refuse("unknown command " + hexByte(packet.subtype));
    }
    std::string problem;
    const std::optional<wire::CommandData> data = commandData(packet, problem);
    if (!data) {
        return refuse(problem);
    }
    return (this->*handler->second)(*data);
}

// The layout every storage command shares, and the fields this command may carry.
std::optional<wire::CommandData> Calculator::commandData(const Packet& packet,
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

Bytes Calculator::deviceInfo(const Packet& packet) {
    if (!packet.data.empty()) {
        return refuse("device information command with " + std::to_string(packet.data.size()) +
                      " bytes of extended data");
    }
    return wire::frameAsCalculator(wire::typeAck, wire::ackInfo,
                                   DeviceInfo::block(settings.capacity, settings.longInfo));
}

bool Calculator::deviceThere(const std::string& device, const std::string& what) {
    if (storage.hasDevice(device)) {
        return true;
    }
    report.note("refused " + what + ": no storage device \"" + device + "\"");
    return false;
}

Bytes Calculator::fileRequest(const wire::CommandData& data) {
    Upload offered;
    offered.mode = data.mode;
    offered.size = data.size;
    offered.partCount = (data.size + wire::partSize - 1) / wire::partSize;
    offered.folder = data.folder;
    offered.file = data.name;
    offered.device = data.device;
    offered.shown = shownPath(data.device, data.folder, data.name);
    return judge(std::move(offered));
}

// Refusals here are answers, not violations: the host asked properly for something the
// calculator cannot do.
Bytes Calculator::judge(Upload offered) {
    const std::string& shown = offered.shown;
    if (!deviceThere(offered.device, shown)) {
        return wire::refusal(wire::refusedError);
    }
    if (!Storage::isPlainName(offered.file) ||
        (!offered.folder.empty() && !Storage::isPlainName(offered.folder))) {
        report.note("refused \"" + shown + "\": not a plain folder and file name");
        return wire::refusal(wire::refusedOverwrite);
    }
    if (offered.partCount > wire::mostParts) {
        report.note("refused " + shown + ": " + std::to_string(offered.size) +
                    " bytes need more than 65535 parts");
        return wire::refusal(wire::refusedFull);
    }
    offered.path = storage.pathOf(offered.device, offered.folder, offered.file);
    const Storage::Entry existing = storage.lookup(offered.path);
    const Storage::Entry folder =
        storage.lookup(storage.pathOf(offered.device, "", offered.folder));
    if (existing == Storage::Entry::Directory || existing == Storage::Entry::Other ||
        (folder != Storage::Entry::Directory && folder != Storage::Entry::Missing)) {
        report.note("refused " + shown + ": something other than a file or folder is in the way");
        return wire::refusal(wire::refusedOverwrite);
    }
    if (existing == Storage::Entry::File && (offered.mode == modeAsk || offered.mode == modeStop)) {
        report.note("refused " + shown + ": it exists; asking whether to replace it");
        overwriteAsked = std::move(offered);
        return wire::refusal(wire::refusedExists);
    }
    const long long replaced = existing == Storage::Entry::File ? storage.sizeOf(offered.path) : 0;
    return accept(std::move(offered), replaced);
}

Bytes Calculator::accept(Upload offered, long long replaced) {
    const long long total =
        storage.used(offered.device) - replaced + static_cast<long long>(offered.size);
    if (total > settings.capacity) {
        report.note("refused " + offered.shown + ": " + std::to_string(total) +
                    " bytes would not fit in " + std::to_string(settings.capacity));
        return wire::refusal(wire::refusedFull);
    }
    if (offered.size == 0) {
        report.note("accepted " + offered.shown +
                    " with 0 bytes: no part follows, nothing to store");
        return wire::acknowledgement();
    }
    report.note("accepted " + offered.shown + ": " + std::to_string(offered.size) + " bytes in " +
                std::to_string(offered.partCount) + " parts");
    upload = std::move(offered);
    return wire::acknowledgement();
}

std::optional<std::string> Calculator::existingFile(const wire::CommandData& data,
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

Bytes Calculator::sendMe(const wire::CommandData& data) {
    const std::optional<std::string> path = existingFile(data, "to send");
    if (!path) {
        return wire::refusal(wire::refusedError);
    }
    const std::optional<Bytes> content = storage.read(*path);
    if (!content) {
        report.failure("could not read " + *path);
        return wire::refusal(wire::refusedError);
    }
    if (content->size() > wire::mostParts * wire::partSize) {
        report.note("refused to send " + *path + ": " + std::to_string(content->size()) +
                    " bytes need more than 65535 parts");
        return wire::refusal(wire::refusedError);
    }
    const CalculatorTurn::FileFlaws flaws =
        flawsUsed ? CalculatorTurn::FileFlaws{} : settings.fileFlaws;
    flawsUsed = true;
    turn = CalculatorTurn::file(data.device, data.folder, data.name, *content, flaws);
    report.note("will send " + turn->subject() + " (" + std::to_string(content->size()) +
                " bytes) after the role swap");
    return wire::acknowledgement();
}

Bytes Calculator::remove(const wire::CommandData& data) {
    const std::optional<std::string> path = existingFile(data, "to delete");
    if (!path) {
        return wire::refusal(wire::refusedError);
    }
    if (!storage.remove(*path)) {
        report.failure("could not delete " + *path);
        return wire::refusal(wire::refusedError);
    }
    report.note("deleted " + *path);
    return wire::acknowledgement();
}

Bytes Calculator::freeSpace(const wire::CommandData& data) {
    if (!deviceThere(data.device, "the free space")) {
        return wire::refusal(wire::refusedError);
    }
    turn = CalculatorTurn::freeSpace(data.device, settings.capacity - storage.used(data.device));
    return wire::acknowledgement();
}

Bytes Calculator::list(const wire::CommandData& data) {
    if (!deviceThere(data.device, "the listing")) {
        return wire::refusal(wire::refusedError);
    }
    turn = CalculatorTurn::listing(data.device, storage.list(data.device), settings.listFolders);
    return wire::acknowledgement();
}

Bytes Calculator::optimize(const wire::CommandData& data) {
    if (!deviceThere(data.device, "the optimization")) {
        return wire::refusal(wire::refusedError);
    }
    report.note("optimized " + data.device);
    work = settings.optimizeDelay;
    return wire::acknowledgement();
}

std::optional<Bytes> Calculator::filePart(const Packet& packet) {
    if (packet.subtype != wire::commandFile) {
        return refuse("file part with unknown subtype " + hexByte(packet.subtype));
    }
    if (!upload) {
        return refuse(lastStored.empty() ? "file part without an accepted file request"
                                         : "file part after " + lastStored + " was complete");
    }
    const std::string problem = checkPart(packet.data);
    if (!problem.empty()) {
        return refuse(problem);
    }
    upload->data.insert(upload->data.end(), packet.data.begin() + wire::partHeaderSize,
                        packet.data.end());
    ++partsTaken;
    // Answers still queued are to the parts before it.
    if (!answers.empty()) {
        ++upload->pipelinedParts;
    }
    if (++upload->nextPart > upload->partCount) {
        storeUpload();
    }
    return wire::acknowledgement();
}

std::string Calculator::checkPart(const Bytes& data) const {
    const std::optional<unsigned> count = wire::readHex(data, 0, 4);
    const std::optional<unsigned> number = wire::readHex(data, 4, 4);
    if (!count || !number) {
        return "file part with a malformed header: " + wire::hexDump(data, wire::partHeaderSize);
    }
    if (*count != upload->partCount) {
        return "file part says " + std::to_string(*count) + " parts, but " +
               std::to_string(upload->size) + " bytes make " + std::to_string(upload->partCount);
    }
    if (*number != upload->nextPart) {
        return "part " + std::to_string(*number) + " came when part " +
               std::to_string(upload->nextPart) + " was due";
    }
    const unsigned long expected =
        std::min<unsigned long>(wire::partSize, upload->size - upload->data.size());
    const size_t carried = data.size() - wire::partHeaderSize;
    if (carried != expected) {
        return "part " + std::to_string(*number) + " carries " + std::to_string(carried) +
               " bytes instead of " + std::to_string(expected);
    }
    return "";
}

void Calculator::storeUpload() {
    if (storage.store(upload->path, upload->data)) {
        report.note("stored " + upload->path + " (" + std::to_string(upload->size) + " bytes)");
        if (upload->pipelinedParts > 0) {
            report.note(std::to_string(upload->pipelinedParts) + " of " +
                        std::to_string(upload->partCount) + " parts of " + upload->path +
                        " came pipelined");
        }
    } else {
        report.failure("could not write " + upload->path);
    }
    lastStored = upload->path;
    upload.reset();
}

// An upload that did not come to its end: nothing stored, or, for a calculator that keeps
// what it was given, the parts taken so far, as a file that looks like any other.
void Calculator::abandonUpload(const std::string& how) {
    const std::string parts = std::to_string(upload->nextPart - 1) + " of " +
                              std::to_string(upload->partCount) + " parts of " + upload->path;
    if (settings.keepsPartialFiles && storage.store(upload->path, upload->data)) {
        report.note(how + " after " + parts + ": kept the " + std::to_string(upload->data.size()) +
                    " bytes taken");
    } else {
        report.note(how + " after " + parts + ": nothing stored");
    }
    upload.reset();
}

Bytes Calculator::refuse(const std::string& violation) {
    report.violation(violation);
    return wire::refusal(wire::refusedPlain);
}

void Calculator::owe(Bytes answer, AnswerQueue::Subject subject, bool genuine) {
    answers.push(std::move(answer), subject, genuine, work);
    work = AnswerQueue::Clock::duration::zero();
    hostGaveUp = false;
}

void Calculator::inTransferStarted() {
    // A host that pipelines may read the answer to one part while the next is on its way.
    const Bytes& waiting = reader.waiting();
    if (waiting.empty() || (waiting.front() == wire::typeData && partsMayComeAhead())) {
        return;
    }
    const std::optional<size_t> announced = reader.announcedSize();
    report.violation(
        "the host waits for an answer to an incomplete packet: " + std::to_string(waiting.size()) +
        " bytes came" + (announced ? " of the " + std::to_string(*announced) + " announced" : "") +
        ": " + wire::hexDump(waiting));
    reader.drop();
    answers.clear();
    owe(wire::refusal(wire::refusedPlain), AnswerQueue::Subject::Other, true);
}

std::optional<Bytes> Calculator::nextAnswer(size_t maxLength) {
    if (gone || silentTransfers != 0) {
        return std::nullopt;
    }
    std::optional<AnswerQueue::Piece> piece = answers.next(maxLength);
    if (!piece) {
        return std::nullopt;
    }
    // The answer to the last packet is the last one queued.
    if (piece->endsAnswer && piece->genuine && answers.empty()) {
        last.answerSpoiled = false;
    }
    return std::move(piece->bytes);
}

void Calculator::inTransferAbandoned() {
    if (silentTransfers > 0) {
        --silentTransfers;
    }
    if (!answers.empty()) {
        hostGaveUp = true;
        last.answerSpoiled = true;
    }
}

void Calculator::deviceOpened() {
    if (sessionStarted) {
        endSession();
    }
    sessionStarted = true;
    reader.drop();
    phase = Phase::Idle;
    upload.reset();
    overwriteAsked.reset();
    turn.reset();
    currentFlaw.clear();
    flawIsDamage = false;
    last = LastPacket{};
    lastSentIntact.reset();
    answers.clear();
    work = AnswerQueue::Clock::duration::zero();
    hostGaveUp = false;
}

void Calculator::hostGone() {
    endSession();
}

// What the host left unfinished when it closed the device or exited.
void Calculator::endSession() {
    if (!reader.waiting().empty()) {
        report.violation("the host left an incomplete packet behind: " +
                         wire::hexDump(reader.waiting()));
    }
    if (upload) {
        abandonUpload("the host stopped");
    }
    if (turn && !gone) {
        const std::string left = "the host left without the terminate while " +
                                 std::string(turn->started() ? "receiving " : "about to receive ") +
                                 turn->subject() + ", after " +
                                 std::to_string(turn->acknowledgedCount()) + " of " +
                                 std::to_string(turn->size()) + " packets";
        // A download must be finished or ended with the terminate.
        if (turn->kind() == CalculatorTurn::Kind::File) {
            report.violation(left + ": the data phase of 44 was left incomplete");
        } else {
            report.note(left);
        }
    }
    if (phase == Phase::Connected && !gone) {
        report.note("the host left without the terminate");
    }
}
