#include "ScsiDrive.h"

#include <algorithm>

namespace {

constexpr uint8_t testUnitReady = 0x00;
constexpr uint8_t requestSense = 0x03;
constexpr uint8_t inquiryCode = 0x12;
constexpr uint8_t pollCode = 0xC0;
constexpr uint8_t readCode = 0xC1;
constexpr uint8_t writeCode = 0xC2;
constexpr size_t screenBlockSize = 16;
constexpr size_t pollAnswerSize = 16;
constexpr size_t largestOffer = 0xFFFF;

constexpr uint8_t checkCondition = 0x02;
constexpr uint8_t keyNotReady = 0x02;
constexpr uint8_t keyIllegalRequest = 0x05;
constexpr uint8_t invalidCommand = 0x20;
constexpr uint8_t invalidField = 0x24;
constexpr uint8_t mediumNotPresent = 0x3A;

size_t countOf(const Bytes& block) {
    return static_cast<size_t>(block[6] << 8 | block[7]);
}

std::string hexByte(uint8_t byte) {
    return wire::hexDump(Bytes{byte});
}

Bytes fixedSense(uint8_t key, uint8_t code) {
    Bytes sense(18, 0);
    sense[0] = 0x70;
    sense[2] = key;
    sense[7] = 10;
    sense[12] = code;
    return sense;
}

} // namespace

ScsiDrive::ScsiDrive(std::unique_ptr<Projector> projector, Report& report)
    : projector(std::move(projector)), report(report) {}

void ScsiDrive::deviceOpened() {
    if (projector) {
        projector->deviceOpened();
    }
}

ScsiDrive::Answer ScsiDrive::execute(const Command& command) {
    if (command.block.empty()) {
        report.violation("the host sent an empty SCSI command block");
        return refusal(keyIllegalRequest, invalidCommand);
    }
    switch (command.block[0]) {
    case testUnitReady:
        ++unitReadies;
        return projector ? refusal(keyNotReady, mediumNotPresent) : Answer();
    case requestSense: {
        ++senseRequests;
        Answer answer(lastSense.empty() ? fixedSense(0, 0) : lastSense);
        answer.dataIn.resize(std::min(answer.dataIn.size(), command.dataInLength));
        lastSense.clear();
        return answer;
    }
    case inquiryCode:
        ++inquiries;
        return inquiry(command);
    case pollCode:
    case readCode:
    case writeCode:
        return screenCommand(command);
    default:
        report.violation("the host sent the SCSI command " + hexByte(command.block[0]) +
                         ", which a drive calculator's screen does not need");
        return refusal(keyIllegalRequest, invalidCommand);
    }
}

ScsiDrive::Answer ScsiDrive::screenCommand(const Command& command) {
    const uint8_t code = command.block[0];
    if (!projector) {
        ++refused;
        return refusal(keyIllegalRequest, invalidCommand);
    }
    if (command.block.size() != screenBlockSize) {
        report.violation("the host sent the screen's command " + hexByte(code) + " in " +
                         std::to_string(command.block.size()) + " bytes, not 16");
        return refusal(keyIllegalRequest, invalidField);
    }
    const size_t count = countOf(command.block);
    const bool countAgrees =
        code == pollCode ||
        (code == readCode ? command.dataInLength : command.dataOut.size()) == count;
    const Direction wanted = code == writeCode ? Direction::Out : Direction::In;
    if (command.direction != wanted || !countAgrees) {
        report.violation("the host's data for the screen's command " + hexByte(code) +
                         " go the wrong way or disagree with the count in its block");
        return refusal(keyIllegalRequest, invalidField);
    }
    return code == pollCode   ? poll(command)
           : code == readCode ? read(command, count)
                              : write(command, count);
}

ScsiDrive::Answer ScsiDrive::poll(const Command& command) {
    if (command.dataInLength != pollAnswerSize) {
        report.violation("the host polled for " + std::to_string(command.dataInLength) +
                         " bytes, not 16");
    }
    if (pending.empty()) {
        pending = projector->nextAnswer(largestOffer).value_or(Bytes{});
    }
    offered = pending.size();
    ++polls;
    offers += offered > 0 ? 1 : 0;
    Bytes answer(pollAnswerSize, 0);
    answer[0] = 0xD0;
    answer[6] = static_cast<uint8_t>(offered >> 8);
    answer[7] = static_cast<uint8_t>(offered & 0xFF);
    answer.resize(std::min(answer.size(), command.dataInLength));
    return Answer(answer);
}

ScsiDrive::Answer ScsiDrive::read(const Command& /*command*/, size_t count) {
    if (count > offered) {
        report.violation("the host read " + std::to_string(count) + " bytes, more than the " +
                         std::to_string(offered) + " the last poll offered");
    }
    const size_t given = std::min(count, pending.size());
    Answer answer(Bytes(pending.begin(), pending.begin() + static_cast<long>(given)));
    pending.erase(pending.begin(), pending.begin() + static_cast<long>(given));
    offered -= std::min(offered, given);
    ++reads;
    bytesRead += given;
    return answer;
}

ScsiDrive::Answer ScsiDrive::write(const Command& command, size_t /*count*/) {
    ++writes;
    projector->received(command.dataOut);
    return Answer();
}

ScsiDrive::Answer ScsiDrive::refusal(uint8_t key, uint8_t code) {
    lastSense = fixedSense(key, code);
    return Answer({}, checkCondition, lastSense);
}

// A removable direct-access device, as the kernel shows the calculator's drive.
ScsiDrive::Answer ScsiDrive::inquiry(const Command& command) const {
    // Vendor, product and revision, padded with spaces.
    const std::string names = "CASIO   Virtual drive   1.00";
    Bytes data = {0x00, 0x80, 0x02, 0x02, 31, 0, 0, 0};
    data.insert(data.end(), names.begin(), names.end());
    data.resize(std::min(data.size(), command.dataInLength));
    return Answer(data);
}

bool ScsiDrive::unplugged() const {
    return projector && projector->unplugged() && pending.empty();
}

void ScsiDrive::hostGone() {
    if (projector) {
        projector->hostGone();
    }
    report.note("the host polled " + std::to_string(polls) + " times (" + std::to_string(offers) +
                " offering bytes), read " + std::to_string(reads) + " times (" +
                std::to_string(bytesRead) + " bytes) and wrote " + std::to_string(writes) +
                " times; INQUIRY " + std::to_string(inquiries) + ", TEST UNIT READY " +
                std::to_string(unitReadies) + ", REQUEST SENSE " + std::to_string(senseRequests) +
                "; screen commands refused " + std::to_string(refused));
}
