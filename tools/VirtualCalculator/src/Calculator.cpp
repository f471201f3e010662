#include "Calculator.h"

#include <algorithm>

namespace {

// Refusal subtypes: the host knows 01 (send it again), 02 (file exists) and 05 (memory
// full); the others only tell it that the packet was not taken.
constexpr uint8_t refusedPlain = 0x00;
constexpr uint8_t refusedResend = 0x01;
constexpr uint8_t refusedExists = 0x02;
constexpr uint8_t refusedName = 0x03;
constexpr uint8_t refusedDevice = 0x04;
constexpr uint8_t refusedFull = 0x05;

constexpr uint8_t gapByte = 0x00;
constexpr size_t requestHeaderSize = 24;
constexpr size_t partHeaderSize = 8;
constexpr unsigned long partSize = 256;
constexpr unsigned long mostParts = 0xFFFF;
constexpr unsigned modeRefuseExisting = 0x00;
constexpr unsigned modeOverwrite = 0x02;
constexpr unsigned requestMarker = 0x05;

std::string text(const Bytes& bytes, size_t offset, size_t length) {
    return std::string(bytes.begin() + static_cast<long>(offset),
                       bytes.begin() + static_cast<long>(offset + length));
}

std::string typeName(uint8_t type) {
    return "type " + wire::hexDump({type});
}

std::optional<FaultPlace> placeOf(const Packet& packet) {
    switch (packet.type) {
    case wire::typeCheck:
        return FaultPlace{FaultPlace::Connect, 0};
    case wire::typeCommand:
        return FaultPlace{FaultPlace::Request, 0};
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

Bytes spoiledAnswer(const Fault& fault) {
    Bytes ack = wire::acknowledgement();
    switch (fault.kind) {
    case Fault::Corrupt:
        ack.back() = ack.back() == '0' ? '1' : '0';
        return ack;
    case Fault::Short:
        return Bytes(ack.begin(), ack.begin() + static_cast<long>(fault.shortLength));
    default:
        return fault.answer;
    }
}

std::string faultName(const Fault& fault) {
    static const char* const names[] = {"resend",  "silent", "unplug", "refuse",
                                        "corrupt", "short",  "answer"};
    return names[fault.kind];
}

} // namespace

Calculator::Calculator(const Storage& storage, Report& report, std::optional<long long> capacity,
                       FaultPlan faults)
    : storage(storage), report(report), capacity(capacity), faults(std::move(faults)) {}

void Calculator::received(const Bytes& bytes) {
    if (phase == Phase::Disconnected) {
        report.violation("bytes after the disconnect signal: " + wire::hexDump(bytes));
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
        if (last.answer) {
            owe(*last.answer, true);
        }
        return;
    }
    if (owed && !hostGaveUp) {
        report.violation("a packet came while the answer to the one before was still unread: " +
                         wire::hexDump(frame.raw));
    }
    owed.reset();
    if (!frame.packet) {
        last = LastPacket{frame.raw, true, std::nullopt, false};
        owe(refuse(frame.problem + ": " + wire::hexDump(frame.raw)), true);
        last.answer = owed;
        return;
    }
    handle(*frame.packet, frame.raw);
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
            owe(wire::refusal(fault->kind == Fault::Resend ? refusedResend : fault->refusalSubtype),
                false);
            return;
        case Fault::Silent:
            silentTransfers = fault->silentTransfers == 0 ? -1 : long(fault->silentTransfers);
            break;
        default:
            break;
        }
    }
    last.answer = process(packet);
    last.processed = true;
    if (fault && spoilsAnswer(*fault)) {
        owe(spoiledAnswer(*fault), false);
        last.answerSpoiled = true;
    } else if (last.answer) {
        owe(*last.answer, true);
    }
}

std::optional<Bytes> Calculator::process(const Packet& packet) {
    switch (packet.type) {
    case wire::typeCheck:
        return connect(packet);
    case wire::typeCommand:
        return fileRequest(packet);
    case wire::typeData:
        return filePart(packet);
    case wire::typeTerminate:
        return disconnect(packet);
    case wire::typeAck:
        return refuse("an acknowledgement from the host, which nothing asked for");
    default:
        return refuse("unknown packet " + typeName(packet.type));
    }
}

std::optional<Bytes> Calculator::connect(const Packet& packet) {
    if (packet.subtype != 0x00 || !packet.data.empty()) {
        return refuse("connect request with subtype " + wire::hexDump({packet.subtype}) + " and " +
                      std::to_string(packet.data.size()) + " bytes of extended data");
    }
    phase = Phase::Connected;
    return wire::acknowledgement();
}

std::optional<Bytes> Calculator::fileRequest(const Packet& packet) {
    if (packet.subtype != wire::commandFile) {
        return refuse("file request with unknown subtype " + wire::hexDump({packet.subtype}));
    }
    if (phase != Phase::Connected) {
        return refuse("file request before any acknowledged connect request");
    }
    if (upload) {
        return refuse("file request while part " + std::to_string(upload->nextPart) + " of " +
                      std::to_string(upload->partCount) + " of " + upload->path + " is due");
    }
    std::string problem;
    std::optional<Upload> offered = parseRequest(packet.data, problem);
    if (!offered) {
        return refuse(problem);
    }
    return judge(std::move(*offered));
}

std::optional<Calculator::Upload> Calculator::parseRequest(const Bytes& data,
                                                           std::string& problem) const {
    if (data.size() < requestHeaderSize) {
        problem = "file request of " + std::to_string(data.size()) +
                  " bytes, shorter than its 24-byte header";
        return std::nullopt;
    }
    const auto field = [&](size_t offset, size_t digits) {
        return wire::readHex(data, offset, digits);
    };
    const auto mode = field(0, 2), marker = field(2, 2), size = field(4, 8);
    const auto folderLength = field(12, 2), fileLength = field(14, 2), deviceLength = field(20, 2);
    const auto unused1 = field(16, 2), unused2 = field(18, 2), unused3 = field(22, 2);
    const Bytes header(data.begin(), data.begin() + static_cast<long>(requestHeaderSize));
    if (!mode || !marker || !size || !folderLength || !fileLength || !deviceLength || !unused1 ||
        !unused2 || !unused3) {
        problem = "malformed hex digits in the file request header: " + wire::hexDump(header, 24);
    } else if (*mode != modeRefuseExisting && *mode != modeOverwrite) {
        problem = "file request with overwrite mode " + text(data, 0, 2) + ", neither 00 nor 02";
    } else if (*marker != requestMarker) {
        problem = "file request with " + text(data, 2, 2) + " where 05 belongs";
    } else if (*unused1 != 0 || *unused2 != 0 || *unused3 != 0) {
        problem = "file request with lengths for the unused name fields: " +
                  text(data, 12, requestHeaderSize - 12);
    } else if (requestHeaderSize + *folderLength + *fileLength + *deviceLength != data.size()) {
        problem = "file request names take " +
                  std::to_string(*folderLength + *fileLength + *deviceLength) +
                  " bytes, the request carries " + std::to_string(data.size() - requestHeaderSize) +
                  " after its header";
    }
    if (!problem.empty()) {
        return std::nullopt;
    }
    Upload offered;
    offered.mode = *mode;
    offered.size = *size;
    offered.partCount = (*size + partSize - 1) / partSize;
    offered.folder = text(data, requestHeaderSize, *folderLength);
    offered.file = text(data, requestHeaderSize + *folderLength, *fileLength);
    offered.device = text(data, requestHeaderSize + *folderLength + *fileLength, *deviceLength);
    return offered;
}

// Refusals here are answers, not violations: the host asked properly for something the
// calculator cannot do.
Bytes Calculator::judge(Upload offered) {
    const std::string shown =
        offered.device + "/" + (offered.folder.empty() ? "" : offered.folder + "/") + offered.file;
    if (!Storage::isDevice(offered.device)) {
        report.note("refused " + shown + ": no storage device \"" + offered.device + "\"");
        return wire::refusal(refusedDevice);
    }
    if (!Storage::isPlainName(offered.file) ||
        (!offered.folder.empty() && !Storage::isPlainName(offered.folder))) {
        report.note("refused \"" + shown + "\": not a plain folder and file name");
        return wire::refusal(refusedName);
    }
    if (offered.partCount > mostParts) {
        report.note("refused " + shown + ": " + std::to_string(offered.size) +
                    " bytes need more than 65535 parts");
        return wire::refusal(refusedFull);
    }
    offered.path = storage.pathOf(offered.device, offered.folder, offered.file);
    const Storage::Entry existing = storage.lookup(offered.path);
    const Storage::Entry folder =
        storage.lookup(storage.pathOf(offered.device, "", offered.folder));
    if (existing == Storage::Entry::Directory || existing == Storage::Entry::Other ||
        (folder != Storage::Entry::Directory && folder != Storage::Entry::Missing)) {
        report.note("refused " + shown + ": something other than a file or folder is in the way");
        return wire::refusal(refusedName);
    }
    if (existing == Storage::Entry::File && offered.mode == modeRefuseExisting) {
        report.note("refused " + shown + ": it exists and the request does not overwrite");
        return wire::refusal(refusedExists);
    }
    const long long replaced = existing == Storage::Entry::File ? storage.sizeOf(offered.path) : 0;
    const long long total =
        storage.used(offered.device) - replaced + static_cast<long long>(offered.size);
    if (capacity && total > *capacity) {
        report.note("refused " + shown + ": " + std::to_string(total) + " bytes would not fit in " +
                    std::to_string(*capacity));
        return wire::refusal(refusedFull);
    }
    if (offered.size == 0) {
        report.note("accepted " + shown + " with 0 bytes: no part follows, nothing to store");
        return wire::acknowledgement();
    }
    report.note("accepted " + shown + ": " + std::to_string(offered.size) + " bytes in " +
                std::to_string(offered.partCount) + " parts");
    upload = std::move(offered);
    return wire::acknowledgement();
}

std::optional<Bytes> Calculator::filePart(const Packet& packet) {
    if (packet.subtype != wire::commandFile) {
        return refuse("file part with unknown subtype " + wire::hexDump({packet.subtype}));
    }
    if (!upload) {
        return refuse(lastStored.empty() ? "file part without an accepted file request"
                                         : "file part after " + lastStored + " was complete");
    }
    const std::string problem = checkPart(packet.data);
    if (!problem.empty()) {
        return refuse(problem);
    }
    upload->data.insert(upload->data.end(), packet.data.begin() + partHeaderSize,
                        packet.data.end());
    if (++upload->nextPart > upload->partCount) {
        storeUpload();
    }
    return wire::acknowledgement();
}

std::string Calculator::checkPart(const Bytes& data) const {
    const std::optional<unsigned> count = wire::readHex(data, 0, 4);
    const std::optional<unsigned> number = wire::readHex(data, 4, 4);
    if (!count || !number) {
        return "file part with a malformed header: " + wire::hexDump(data, partHeaderSize);
    }
    if (*count != upload->partCount) {
        return "file part says " + std::to_string(*count) + " parts, but " +
               std::to_string(upload->size) + " bytes make " + std::to_string(upload->partCount);
    }
    if (*number != upload->nextPart) {
        return "part " + std::to_string(*number) + " came when part " +
               std::to_string(upload->nextPart) + " was due";
    }
    const unsigned long expected = std::min(partSize, upload->size - upload->data.size());
    const size_t carried = data.size() - partHeaderSize;
    if (carried != expected) {
        return "part " + std::to_string(*number) + " carries " + std::to_string(carried) +
               " bytes instead of " + std::to_string(expected);
    }
    return "";
}

void Calculator::storeUpload() {
    if (storage.store(upload->path, upload->data)) {
        report.note("stored " + upload->path + " (" + std::to_string(upload->size) + " bytes)");
    } else {
        report.failure("could not write " + upload->path);
    }
    lastStored = upload->path;
    upload.reset();
}

std::optional<Bytes> Calculator::disconnect(const Packet& packet) {
    if (packet.subtype != 0x00 || !packet.data.empty()) {
        report.violation("disconnect signal with subtype " + wire::hexDump({packet.subtype}) +
                         " and " + std::to_string(packet.data.size()) + " bytes of extended data");
    }
    if (upload) {
        report.note("disconnected after " + std::to_string(upload->nextPart - 1) + " of " +
                    std::to_string(upload->partCount) + " parts of " + upload->path +
                    ": nothing stored");
        upload.reset();
    }
    phase = Phase::Disconnected;
    return std::nullopt;
}

Bytes Calculator::refuse(const std::string& violation) {
    report.violation(violation);
    return wire::refusal(refusedPlain);
}

void Calculator::owe(Bytes answer, bool genuine) {
    owed = std::move(answer);
    owedGenuine = genuine;
    hostGaveUp = false;
}

void Calculator::inTransferStarted() {
    if (reader.waiting().empty()) {
        return;
    }
    const std::optional<size_t> announced = reader.announcedSize();
    report.violation("the host waits for an answer to an incomplete packet: " +
                     std::to_string(reader.waiting().size()) + " bytes came" +
                     (announced ? " of the " + std::to_string(*announced) + " announced" : "") +
                     ": " + wire::hexDump(reader.waiting()));
    reader.drop();
    owe(wire::refusal(refusedPlain), true);
}

std::optional<Bytes> Calculator::nextAnswer(size_t maxLength) {
    if (gone || !owed || silentTransfers != 0) {
        return std::nullopt;
    }
    const size_t length = std::min(maxLength, owed->size());
    Bytes piece(owed->begin(), owed->begin() + static_cast<long>(length));
    owed->erase(owed->begin(), owed->begin() + static_cast<long>(length));
    if (owed->empty()) {
        owed.reset();
        if (owedGenuine) {
            last.answerSpoiled = false;
        }
    }
    return piece;
}

void Calculator::inTransferAbandoned() {
    if (silentTransfers > 0) {
        --silentTransfers;
    }
    if (owed) {
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
    last = LastPacket{};
    owed.reset();
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
        report.note("the host stopped after " + std::to_string(upload->nextPart - 1) + " of " +
                    std::to_string(upload->partCount) + " parts of " + upload->path +
                    ": nothing stored");
    }
    if (phase == Phase::Connected && !gone) {
        report.note("the host left without the disconnect signal");
    }
}
