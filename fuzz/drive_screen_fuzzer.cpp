// A drive calculator's screen source against a SCSI device whose every answer the input
// scripts: poll answers of any bytes, any status, host status, call error, and sense data of
// any length, even beyond the room for it. Each read asks for no more than the poll before it
// offered and the room holds, what comes back is what the reads brought, and once the source
// ends it sends nothing more.
// Input: room (2 bytes, little-endian, plus 1), then answers until the input ends, each: flags
// (bits 0-2 the call's error: none, ENODEV, EPERM, EIO, ETIMEDOUT; bit 3 the driver's timeout;
// bit 4 the check's answer goes after this receive), status, host status, data length (2
// bytes), the data, sense length (1 byte), the sense data.

#include "CasioDriveScreenSource.h"
#include "FuzzSupport.h"
#include "LibusbDouble.h"
#include "ScsiDouble.h"

#include <cerrno>
#include <vector>

using FuzzSupport::check;

namespace {

constexpr int errors[] = {0, ENODEV, EPERM, EIO, ETIMEDOUT, 0, 0, 0};

std::vector<ScsiDouble::Answer> scriptOf(FuzzSupport::Reader& input, std::vector<bool>* replies) {
    std::vector<ScsiDouble::Answer> script;
    while (!input.atEnd()) {
        const uint8_t flags = input.byte();
        const uint8_t status = input.byte();
        ScsiDouble::Answer answer({}, status, {}, errors[flags & 7], input.byte(),
                                  (flags & 8) != 0 ? 0x06 : 0);
        const uint8_t* bytes = nullptr;
        const size_t length = input.take(input.u16(), &bytes);
        answer.data.assign(bytes, bytes + length);
        const size_t senseLength = input.take(input.byte(), &bytes);
        answer.sense.assign(bytes, bytes + senseLength);
        script.push_back(answer);
        replies->push_back((flags & 16) != 0);
    }
    return script;
}

// Command i got answer i (the first is the open's TEST UNIT READY): a read follows a poll whose
// answer offered at least its count.
void checkReads(const std::vector<ScsiDouble::Answer>& script, int room) {
    const std::vector<ScsiDouble::Sent>& sent = ScsiDouble::sent();
    for (size_t i = 1; i < sent.size(); ++i) {
        if (sent[i].block[0] != 0xC1) {
            continue;
        }
        const int count = sent[i].block[6] << 8 | sent[i].block[7];
        check(i - 1 < script.size() && sent[i - 1].block[0] == 0xC0, "a read without a poll");
        const ScsiDouble::Bytes& poll = script[i - 1].data;
        CasioScreenOffer offer{0, 0};
        check(!CasioDriveScreen::readOffer(poll.data(), poll.size() < 16 ? int(poll.size()) : 16,
                                           &offer),
              "a read after a poll that offered nothing");
        check(count >= 1 && count <= offer.available && count <= room && sent[i].room == count,
              "a read of more than was offered, or than the room holds");
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzSupport::Reader input(data, size);
    const int room = input.u16() + 1;
    std::vector<bool> replies;
    const std::vector<ScsiDouble::Answer> script = scriptOf(input, &replies);
    LibusbDouble::reset();
    // Once the script runs out, the calculator is gone: every run ends.
    ScsiDouble::reset(ScsiDouble::Answer({}, 0, {}, ENODEV));
    ScsiDouble::script(script);
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
        if (turn < replies.size() && replies[turn]) {
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
