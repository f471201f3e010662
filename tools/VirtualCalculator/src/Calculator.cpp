#include "Calculator.h"

namespace {

constexpr uint8_t gapByte = 0x00;
constexpr uint8_t lastTerminateSubtype = 0x03;
std::string hexByte(uint8_t byte) {
    return wire::hexDump({byte});
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
    : report(report), settings(std::move(settings)), faults(std::move(faults)),
      commands(storage, report, this->settings),
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
    const std::optional<FaultPlace> place = FaultPlace::at(packet);
    const std::optional<Fault> fault = place ? faults.take(*place) : std::nullopt;
    if (fault) {
        report.note("fault " + fault->name() + " at " + place->describe());
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
            silentTransfers = fault->silence();
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
    if (fault && fault->spoilsAnswer()) {
        owe(fault->spoiled(last.answer), last.subject, false);
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
    if (const std::optional<std::string> asked = commands.askedAbout()) {
        if ((packet.type == wire::typeAck && packet.subtype == wire::ackOverwrite) ||
            (packet.type == wire::typeRefusal && packet.subtype == wire::refusedOverwrite)) {
            return overwriteAnswer(packet);
        }
        // The host may leave the question unanswered and go on (the old uploader terminates).
        report.note("the host did not answer whether to replace " + *asked);
        commands.dropQuestions();
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
        if (flaw.damage) {
            report.violation("the host acknowledged " + current->what + ", sent with " + flaw.what);
        } else if (!flaw.what.empty() || current->beyondAnnounced) {
            report.note("the host acknowledged " + current->what + ", sent with " +
                        (flaw.what.empty() ? "a part beyond the announced count" : flaw.what));
        }
        turn->acknowledged();
        return sendCurrent();
    }
    if (packet.type == wire::typeRefusal && (!flaw.what.empty() || current->beyondAnnounced)) {
        report.note("the host refused " + current->what +
                    (flaw.what.empty() ? "" : ", sent with " + flaw.what));
        // A part beyond the count is dropped; any other is sent again, through any fault
        // still planned for its place.
        if (current->beyondAnnounced) {
            turn->acknowledged();
        }
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
    flaw = {};
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
    flaw = {};
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
    report.note("fault " + fault->name() + " at " + current->place->describe());
    switch (fault->kind) {
    case Fault::Corrupt:
        flaw = {"a wrong checksum", true};
        flawedSend = Fault::withWrongChecksum(intact);
        break;
    case Fault::Misnumber:
        flaw.what = "the part number " + std::to_string(current->place->number + 1);
        flawedSend = current->numbered(current->place->number + 1);
        break;
    case Fault::Silent:
        silentTransfers = fault->silence();
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
                    ", " + turn->progress());
        turn.reset();
    }
    commands.dropQuestions();
    phase = Phase::Terminated;
    return wire::acknowledgement();
}

std::optional<Bytes> Calculator::overwriteAnswer(const Packet& packet) {
    return follow(commands.answerQuestion(packet.type == wire::typeAck));
}

std::optional<Bytes> Calculator::command(const Packet& packet) {
    if (upload) {
        return refuse("command " + hexByte(packet.subtype) + " while part " +
                      std::to_string(upload->nextPart()) + " of " +
                      std::to_string(upload->partCount()) + " of " + upload->path() + " is due");
    }
    return follow(commands.play(packet));
}

Bytes Calculator::follow(CommandOutcome outcome) {
    if (outcome.turn) {
        turn = std::move(outcome.turn);
    }
    if (outcome.upload) {
        upload = std::move(outcome.upload);
    }
    work = outcome.work;
    return std::move(outcome.answer);
}

std::optional<Bytes> Calculator::filePart(const Packet& packet) {
    if (packet.subtype != wire::commandFile && packet.subtype != wire::commandItem) {
        return refuse("file part with unknown subtype " + hexByte(packet.subtype));
    }
    if (!upload) {
        return refuse(lastStored.empty() ? "file part without an accepted file request"
                                         : "file part after " + lastStored + " was complete");
    }
    if (packet.subtype != upload->code()) {
        return refuse("a part of command " + hexByte(packet.subtype) + " while those of " +
                      hexByte(upload->code()) + " are due");
    }
    const std::string problem = upload->checkPart(packet.data);
    if (!problem.empty()) {
        return refuse(problem);
    }
    // Answers still queued are to the parts before it.
    upload->take(packet.data, !answers.empty());
    ++partsTaken;
    if (upload->complete()) {
        upload->store(report);
        lastStored = upload->path();
        upload.reset();
    }
    return wire::acknowledgement();
}

void Calculator::abandonUpload(const std::string& how) {
    upload->abandon(how, settings.keepsPartialFiles, report);
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
    commands.dropQuestions();
    turn.reset();
    flaw = {};
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
                                 turn->subject() + ", " + turn->progress();
        // A download must be finished or ended with the terminate.
        if (const char* command = turn->downloadCommand()) {
            report.violation(left + ": the data phase of " + command + " was left incomplete");
        } else {
            report.note(left);
        }
    }
    if (phase == Phase::Connected && !gone) {
        report.note("the host left without the terminate");
    }
}
