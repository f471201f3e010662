// CasioProtocolTools' exchanges against a calculator that answers anything at all, played
// by the libusb double.
//
// Input:
//   operation (1 byte, modulo 3): sendPacketAndGetAnswer, sendPacketAndAck, connectProtocol
//   count (1 byte): `timeout` from -2 to 7, or `maxRetry` from 0 to 3 for connectProtocol
//   persistence (1 byte, modulo 4): what the calculator adds after every packet it is sent:
//       nothing, a request to resend, the last scripted answer again, an acknowledgement
//   packet length (1 byte, modulo 32), then that many bytes: the packet to send
//   then script steps until the input ends, each a kind byte (modulo 10):
//     0 raw answer:   length (2 bytes, modulo 4400), then up to that many bytes
//     1 filled:       length (2 bytes, modulo 4400), fill byte
//     2 acknowledgement           3 request to resend
//     4 framed:       type, subtype, data length (2 bytes, modulo 1100), fill byte, then up
//                     to that many data bytes (the rest is the fill)
//     5 empty, timed out
//     6 failed:       result (1 byte, 0 to -12), length (1 byte), up to that many bytes
//     7 split:        the previous answer split in two at (2 bytes) modulo its length
//     8 repeat:       the previous answer again (1 byte) modulo 64 times
//     9 send result:  bytes taken (1 byte, modulo 10, less one: -1 takes all), failure flag

#include "CalcConnector.h"
#include "CasioProtocolTools.h"
#include "FuzzSupport.h"
#include "LibusbDouble.h"
#include "Log.h"
#include "UsbContext.h"
#include "WireModel.h"

#include <libusb.h>
#include <vector>

using FuzzSupport::check;
using FuzzSupport::ExactBytes;
using FuzzSupport::Reader;
using LibusbDouble::Bytes;
using LibusbDouble::InStep;

namespace {

constexpr int maxSteps = 256;
constexpr int maxAnswerLength = 4400; // longer than the 4096 bytes the library offers
constexpr int maxFramedData = 1100;   // past the 1024 escaped bytes a packet may carry
constexpr int answerCapacity = 4096;

enum Operation { getAnswer, getAck, connect };
enum Persistence { none, resendForever, repeatForever, ackForever };

const Bytes ack = WireModel::frame(CasioProtocolTools::typeAck, 0x00, {});
const Bytes resendRequest =
    WireModel::frame(CasioProtocolTools::typeRefusal, CasioProtocolTools::subtypeResend, {});

Bytes takeBytes(Reader& reader, size_t count) {
    const uint8_t* bytes = nullptr;
    const size_t taken = reader.take(count, &bytes);
    return Bytes(bytes, bytes + taken);
}

Bytes framed(Reader& reader) {
    const uint8_t type = reader.byte();
    const uint8_t subtype = reader.byte();
    const size_t length = reader.u16() % maxFramedData;
    const uint8_t fill = reader.byte();
    Bytes data = takeBytes(reader, length);
    data.resize(length, fill);
    return WireModel::frame(type, subtype, data);
}

// Queues the scripted answers; returns the step that persistence repeats.
InStep script(Reader& reader) {
    std::vector<InStep> steps;
    while (!reader.atEnd() && static_cast<int>(steps.size()) < maxSteps) {
        switch (reader.byte() % 10) {
        case 0:
            steps.push_back({takeBytes(reader, reader.u16() % maxAnswerLength), 0});
            break;
        case 1: {
            const size_t length = reader.u16() % maxAnswerLength;
            steps.push_back({Bytes(length, reader.byte()), 0});
            break;
        }
        case 2:
            steps.push_back({ack, 0});
            break;
        case 3:
            steps.push_back({resendRequest, 0});
            break;
        case 4:
            steps.push_back({framed(reader), 0});
            break;
        case 5:
            steps.push_back({{}, LIBUSB_ERROR_TIMEOUT});
            break;
        case 6: {
            const int result = -(reader.byte() % 13);
            steps.push_back({takeBytes(reader, reader.byte()), result});
            break;
        }
        case 7:
            if (!steps.empty() && !steps.back().bytes.empty()) {
                Bytes& whole = steps.back().bytes;
                const size_t at = reader.u16() % whole.size();
                Bytes tail(whole.begin() + static_cast<long>(at), whole.end());
                whole.resize(at);
                steps.push_back({tail, steps.back().result});
            }
            break;
        case 8: {
            const int times = reader.byte() % 64;
            for (int i = 0; i < times && !steps.empty(); ++i) {
                steps.push_back(steps.back());
            }
            break;
        }
        default: {
            const int taken = reader.byte() % 10 - 1;
            const int result = reader.byte() & 1 ? LIBUSB_ERROR_IO : 0;
            LibusbDouble::queueOut({taken, result});
            break;
        }
        }
    }
    for (const InStep& step : steps) {
        LibusbDouble::queueIn(step);
    }
    return steps.empty() ? InStep{ack, 0} : steps.back();
}

void persist(Persistence persistence, const InStep& last) {
    InStep step;
    switch (persistence) {
    case resendForever:
        step = {resendRequest, 0};
        break;
    case repeatForever:
        step = last;
        break;
    case ackForever:
        step = {ack, 0};
        break;
    default:
        return;
    }
    LibusbDouble::setResponder([step](const Bytes&) { LibusbDouble::queueIn(step); });
}

// Every pass sends at most `sendTries` times and receives a packet in at most three rounds of
// `receiveTries` (its header, its length, its data); requests to resend add passes, but no
// more than the library's bound.
int maxPasses(int timeout) {
    return (timeout > 0 ? timeout : 0) + CasioProtocolTools::maxResendRequests + 1;
}

void checkTransfers(Operation operation, int count) {
    const long passes = operation == connect ? static_cast<long>(count) *
                                                   maxPasses(CasioProtocolTools::connectTimeout)
                                             : maxPasses(count);
    const long gapByteSends = operation == connect ? CasioProtocolTools::sendTries : 0;
    check(LibusbDouble::inTransferCount() <= passes * 3 * CasioProtocolTools::receiveTries,
          "more receives than the try counts allow");
    check(LibusbDouble::outTransferCount() <= passes * CasioProtocolTools::sendTries + gapByteSends,
          "more sends than the try counts allow");
    for (const LibusbDouble::Transfer& transfer : LibusbDouble::transfers()) {
        check(transfer.offered >= 0 && transfer.offered <= answerCapacity,
              "a transfer offered a length outside the buffers");
    }
    check(!LibusbDouble::misuseSeen(), "a closed handle was used");
}

void checkAnswer(const CasioPacketInfo& answer) {
    check(!(answer.type == CasioProtocolTools::typeRefusal &&
            answer.subtype == CasioProtocolTools::subtypeResend),
          "a request to resend was handed back as the answer");
    check(answer.extendedData != nullptr, "the answer has no extended data buffer");
    const int size = answer.extendedData->getSize();
    check(size >= 0 && size <= answerCapacity, "answer data size outside its storage");
    // Reads every byte handed back, so that AddressSanitizer sees any overreach.
    unsigned sum = 0;
    for (int i = 0; i < size; ++i) {
        sum += answer.extendedData->getData()[i];
    }
    volatile unsigned sink = sum;
    (void)sink;
}

void exchange(Reader& reader) {
    const Operation operation = static_cast<Operation>(reader.byte() % 3);
    const uint8_t countByte = reader.byte();
    const int count = operation == connect ? countByte % 4 : countByte % 10 - 2;
    const Persistence persistence = static_cast<Persistence>(reader.byte() % 4);
    const Bytes packetBytes = takeBytes(reader, reader.byte() % 32);
    ExactBytes packet(packetBytes.data(), packetBytes.size());

    LibusbDouble::reset();
    LibusbDouble::addDevice(CalcConnector::calcVendorId, CalcConnector::calcProductId);
    UsbContext context;
    context.initUsbContext();
    Socket socket;
    check(!socket.setDeviceHandle(CalcConnector::connect(&context)), "the double did not open");
    LibusbDouble::clearTransfers();
    persist(persistence, script(reader));

    Buffer packetBuffer(packet.data(), packet.intSize());
    CasioReceivedPacket answer;
    switch (operation) {
    case getAnswer:
        if (!CasioProtocolTools::sendPacketAndGetAnswer(&socket, &packetBuffer, count,
                                                        &answer.info)) {
            checkAnswer(answer.info);
        }
        break;
    case getAck:
        CasioProtocolTools::sendPacketAndAck(&socket, &packetBuffer, count);
        break;
    case connect:
        CasioProtocolTools::connectProtocol(&socket, count);
        break;
    }
    checkTransfers(operation, count);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    FuzzSupport::silenceStdout();
    Log::setLoglevel(-1);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Reader reader(data, size);
    exchange(reader);
    // The socket has closed its handle by now; drop the script and the recorded transfers.
    LibusbDouble::reset();
    return 0;
}
