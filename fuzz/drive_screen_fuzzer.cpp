// A drive calculator's screen source against a SCSI device whose every answer the input
// scripts: poll answers of any bytes, any status, host status, call error and sense data. Each
// read asks for no more than the poll before it offered and the room holds, what comes back
// is what the reads brought, and once the source ends it sends nothing more. The verdict on
// status and sense is also judged on sense data of any claimed length, read in place.
// Input: room (2 bytes, little-endian, plus 1), then answers until the input ends, each: flags
// (bits 0-2 the call's error: none, ENODEV, EPERM, EIO, ETIMEDOUT; bit 3 the driver's timeout;
// bit 4 an answer to the check goes after this receive), status, host status, data length (2
// bytes), the data, sense length (1 byte), the sense data, and the sense length claimed.

#include "CasioDriveScreenSource.h"
#include "FuzzSupport.h"
#include "LibusbDouble.h"
#include "ScsiDouble.h"

#include <cerrno>
#include <vector>

using FuzzSupport::check;

namespace {

constexpr int errors[] = {0, ENODEV, EPERM, EIO, ETIMEDOUT, 0, 0, 0};

struct Scripted {
    ScsiDouble::Answer answer;
    int claimedSense;
    bool answersCheck;
};

std::vector<Scripted> scriptOf(FuzzSupport::Reader& input) {
    std::vector<Scripted> script;
    while (!input.atEnd()) {
        const uint8_t flags = input.byte();
        ScsiDouble::Answer answer({}, input.byte(), {}, errors[flags & 7], input.byte(),
                                  (flags & 8) != 0 ? 0x06 : 0);
        const uint8_t* bytes = nullptr;
        const size_t length = input.take(input.u16(), &bytes);
        answer.data.assign(bytes, bytes + length);
        const size_t senseLength = input.take(input.byte(), &bytes);
        answer.sense.assign(bytes, bytes + senseLength);
        script.push_back({answer, input.byte(), (flags & 16) != 0});
    }
    return script;
}

// The verdict reads no sense byte beyond the room for them, whatever length is claimed.
void judgeInPlace(const Scripted& scripted) {
    FuzzSupport::ExactBytes sense(CasioDriveScreen::senseCapacity);
    const ScsiDouble::Bytes& bytes = scripted.answer.sense;
    for (int i = 0; i < sense.intSize(); ++i) {
        sense.data()[i] = i < static_cast<int>(bytes.size()) ? bytes[i] : 0;
    }
    ScsiCommand command;
    command.sense = sense.data();
    command.senseCapacity = sense.intSize();
    command.senseSize = scripted.claimedSense;
    command.status = scripted.answer.status;
    command.hostStatus = scripted.answer.hostStatus;
    command.error = scripted.answer.error;
    const CasioDriveVerdict verdict = CasioDriveScreen::judge(command);
    check(verdict >= CasioDriveVerdict::done && verdict <= CasioDriveVerdict::forbidden,
          "a verdict out of range");
}

// The bytes the poll at `index` offered, -1 when it was not one the source could take.
int offerAt(size_t index, const std::vector<Scripted>& script) {
    const std::vector<ScsiDouble::Sent>& sent = ScsiDouble::sent();
    if (index >= script.size() || sent[index].block[0] != 0xC0) {
        return -1;
    }
    ScsiCommand command;
    command.error = script[index].answer.error;
    command.status = script[index].answer.status;
    command.hostStatus = script[index].answer.hostStatus;
    command.driverStatus = script[index].answer.driverStatus;
    CasioScreenOffer offer{0, 0};
    const ScsiDouble::Bytes& data = script[index].answer.data;
    const int size = data.size() < 16 ? static_cast<int>(data.size()) : 16;
    if (CasioDriveScreen::judge(command) != CasioDriveVerdict::done ||
        CasioDriveScreen::readOffer(data.data(), size, &offer)) {
        return -1;
    }
    return offer.available;
}

void checkReads(const std::vector<Scripted>& script, int room) {
    const std::vector<ScsiDouble::Sent>& sent = ScsiDouble::sent();
    for (size_t i = 1; i < sent.size(); ++i) {
        if (sent[i].block[0] != 0xC1) {
            continue;
        }
        const int count = sent[i].block[6] << 8 | sent[i].block[7];
        check(count >= 1 && count <= offerAt(i - 1, script) && count <= room &&
                  sent[i].room == count,
              "a read of more than was offered, or than the room holds");
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzSupport::Reader input(data, size);
    const int room = input.u16() + 1;
    const std::vector<Scripted> script = scriptOf(input);
    LibusbDouble::reset();
    // Once the script runs out, the calculator is gone: every run ends.
    ScsiDouble::reset(ScsiDouble::Answer({}, 0, {}, ENODEV));
    for (const Scripted& scripted : script) {
        ScsiDouble::script({scripted.answer});
        judgeInPlace(scripted);
    }
    CasioDriveScreenSource source;
    check(!source.open("/dev/sg1"), "a node that opens is taken");
    FuzzSupport::ExactBytes area(static_cast<size_t>(room));
    unsigned long received = 0;
    for (size_t turn = 0; source.end() == CasioDriveScreenEnd::none; ++turn) {
        Buffer bytes(area.data(), room);
        const bool ended = source.receive(&bytes);
        check(bytes.getSize() >= 0 && bytes.getSize() <= room, "more bytes than the room");
        check(ended == (source.end() != CasioDriveScreenEnd::none), "an end not told");
        received += static_cast<unsigned long>(bytes.getSize());
        unsigned char reply[8] = {6, '0', '2', '0', '0', '1', '0', 'D'};
        Buffer answer(reply, sizeof reply);
        if (turn < script.size() && script[turn].answersCheck) {
            source.answer(&answer);
        }
    }
    const size_t sentAtEnd = ScsiDouble::sent().size();
    Buffer bytes(area.data(), room);
    check(source.receive(&bytes) && bytes.getSize() == 0 && ScsiDouble::sent().size() == sentAtEnd,
          "an ended source went on");
    check(received == source.counts().bytes, "bytes received and counted differ");
    checkReads(script, room);
    return 0;
}
