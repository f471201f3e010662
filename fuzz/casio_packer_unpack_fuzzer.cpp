// CasioPacker::unpack on whatever the calculator might send.
//
// Input: capacity of the extended data target (2 bytes, little-endian, taken modulo 4097),
// then the received packet bytes.

#include "CasioPacker.h"
#include "FuzzSupport.h"
#include "Log.h"
#include "WireModel.h"

using FuzzSupport::check;
using FuzzSupport::ExactBytes;

namespace {

constexpr int maxCapacity = 4096;
constexpr unsigned char untouchedType = 0xEE;
constexpr unsigned char untouchedSubtype = 0xDD;
constexpr unsigned char unwritten = 0xA5;

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    FuzzSupport::silenceStdout();
    Log::setLoglevel(-1);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzSupport::Reader reader(data, size);
    const int capacity = reader.u16() % (maxCapacity + 1);
    const uint8_t* packetBytes = nullptr;
    const size_t packetSize = reader.take(reader.remaining(), &packetBytes);

    ExactBytes received(packetBytes, packetSize);
    ExactBytes target(static_cast<size_t>(capacity));
    memset(target.data(), unwritten, target.size());
    Buffer input(received.data(), received.intSize());
    Buffer extendedData(target.data(), capacity);
    CasioPacketInfo info = {untouchedType, untouchedSubtype, &extendedData};

    const bool failed = CasioPacker::unpack(&info, &input);

    check(input.getData() == received.data() && input.getSize() == received.intSize(),
          "unpack changed its input");
    check(info.extendedData == &extendedData && extendedData.getData() == target.data(),
          "unpack moved the target");
    check(extendedData.getSize() >= 0 && extendedData.getSize() <= capacity,
          "target size outside its capacity");

    const WireModel::Verdict verdict = WireModel::judge(received.data(), received.size());
    if (!verdict.sound) {
        // Rejected before anything is written, so the caller's packet info stays as it was.
        check(failed, "a corrupt packet was accepted");
        check(info.type == untouchedType && info.subtype == untouchedSubtype,
              "a corrupt packet changed type or subtype");
        check(extendedData.getSize() == capacity, "a corrupt packet changed the target size");
        for (size_t i = 0; i < target.size(); ++i) {
            check(target.data()[i] == unwritten, "a corrupt packet wrote into the target");
        }
        return 0;
    }

    check(info.type == received.data()[0], "type is not byte 0");
    check(info.subtype == static_cast<uint8_t>(WireModel::number(received.data() + 1, 2)),
          "subtype is not the digits at offset 1");
    if (!verdict.hasData) {
        check(!failed, "a sound packet without data was refused");
        check(extendedData.getSize() == capacity, "a packet without data resized the target");
        return 0;
    }

    WireModel::Bytes restored;
    const bool restorable = WireModel::restore(received.data() + WireModel::headerSize,
                                               static_cast<size_t>(verdict.dataLength), &restored);
    const bool fits = restorable && restored.size() <= static_cast<size_t>(capacity);
    check(failed == !fits, "unpack disagrees with the model on whether the data fits");
    if (failed) {
        check(extendedData.getSize() == capacity, "a failed restore changed the target size");
        return 0;
    }
    check(extendedData.getSize() == static_cast<int>(restored.size()), "wrong restored size");
    check(restored.empty() || memcmp(target.data(), restored.data(), restored.size()) == 0,
          "wrong restored bytes");
    return 0;
}
