// The uploader's packets: FileProtocol::buildSendRequestPacket with any names and size, and
// buildFilePartPacket with any file image and part numbers. A packet must fit the output
// it was given, match the wire format byte for byte, and read back through
// CasioPacker::unpack when it is small enough to be received.
//
// Input: kind (1 byte, modulo 2), output capacity (2 bytes, modulo 4097), then
//   0 request: file size (4 bytes), mode (1 byte), then three names (folder, file, device),
//              each a length (2 bytes, modulo 601) and up to that many bytes, cut at a 0
//   1 part:    part number, part count, part size (4 bytes each), then the file image

#include "CasioPacker.h"
#include "FileProtocol.h"
#include "FuzzSupport.h"
#include "Log.h"
#include "WireModel.h"

#include <algorithm>
#include <cstring>
#include <memory>

using FuzzSupport::check;
using FuzzSupport::ExactBytes;
using FuzzSupport::Reader;
using WireModel::Bytes;

namespace {

constexpr int maxCapacity = 4096;
constexpr size_t maxFuzzedName = 600; // well past the 255 bytes a name may have
constexpr uint8_t fileSubtype = wire::commandFile;
constexpr uint32_t requestDataType = 0x05;
constexpr uint8_t typeRequest = wire::typeCommand;
constexpr uint8_t typePart = wire::typeData;
constexpr int escapeArea = 2048;
constexpr unsigned char unwritten = 0xA5;

struct Name {
    std::unique_ptr<char[]> text;
    size_t length;
};

Name takeName(Reader& reader) {
    const size_t wanted = reader.u16() % (maxFuzzedName + 1);
    const uint8_t* bytes = nullptr;
    size_t length = reader.take(wanted, &bytes);
    const void* zero = memchr(bytes, 0, length);
    if (zero != nullptr) {
        length = static_cast<size_t>(static_cast<const uint8_t*>(zero) - bytes);
    }
    Name name{std::unique_ptr<char[]>(new char[length + 1]), length};
    memcpy(name.text.get(), bytes, length);
    name.text[length] = '\0';
    return name;
}

std::string text(const Name& name) {
    return std::string(name.text.get(), name.length);
}

// Given what the packet must carry, checks the outcome of building it into `output`.
void checkPacket(bool failed, const Buffer& output, int capacity, uint8_t type,
                 const Bytes* carried) {
    if (carried == nullptr) {
        check(failed, "a packet was built from arguments that must be refused");
        check(output.getSize() == capacity, "a refused packet changed the output size");
        return;
    }
    const Bytes expected = WireModel::frame(type, fileSubtype, *carried);
    const size_t escaped = expected.size() - 10;
    const bool fits = escaped <= escapeArea && expected.size() <= static_cast<size_t>(capacity);
    check(failed == !fits, "building disagrees with the model on whether the packet fits");
    if (failed) {
        check(output.getSize() == capacity, "a failed pack changed the output size");
        return;
    }
    check(output.getSize() == static_cast<int>(expected.size()), "wrong packet length");
    check(memcmp(output.getData(), expected.data(), expected.size()) == 0,
          "packet bytes differ from the wire format");

    // Read back exactly as an answer would be: the packet in a block of its own size.
    ExactBytes received(output.getData(), static_cast<size_t>(output.getSize()));
    Buffer input(received.data(), received.intSize());
    ExactBytes target(carried->size());
    Buffer restored(target.data(), static_cast<int>(target.size()));
    CasioPacketInfo info = {0, 0, &restored};
    const bool unpackFailed = CasioPacker::unpack(&info, &input);
    const bool receivable = escaped <= WireModel::maxReceivedLength;
    check(unpackFailed == !receivable, "unpack disagrees on a packet the codec built");
    if (!receivable) {
        return;
    }
    check(info.type == type && info.subtype == fileSubtype, "type or subtype lost on the way");
    check(restored.getSize() == static_cast<int>(carried->size()) &&
              memcmp(target.data(), carried->data(), carried->size()) == 0,
          "the data did not survive the round trip");
}

void request(Reader& reader, int capacity) {
    const int dataSize = reader.int32();
    const uint8_t mode = reader.byte();
    const Name folder = takeName(reader);
    const Name file = takeName(reader);
    const Name device = takeName(reader);

    ExactBytes area(static_cast<size_t>(capacity));
    memset(area.data(), unwritten, area.size());
    Buffer output(area.data(), capacity);
    const bool failed = FileProtocol::buildSendRequestPacket(
        &output, dataSize, folder.text.get(), file.text.get(), device.text.get(), mode);

    const size_t maxName = FileProtocol::maxNameLength;
    if (folder.length > maxName || file.length > maxName || device.length > maxName) {
        checkPacket(failed, output, capacity, typeRequest, nullptr);
        return;
    }
    const Bytes carried = wire::commandData({mode, requestDataType, static_cast<uint32_t>(dataSize),
                                             text(folder), text(file), text(device)});
    checkPacket(failed, output, capacity, typeRequest, &carried);
}

void part(Reader& reader, int capacity) {
    const int partId = reader.int32();
    const int partCount = reader.int32();
    const int partSize = reader.int32();
    const uint8_t* imageBytes = nullptr;
    const size_t imageSize = reader.take(reader.remaining(), &imageBytes);
    ExactBytes image(imageBytes, imageSize);
    Buffer imageBuffer(image.data(), image.intSize());

    ExactBytes area(static_cast<size_t>(capacity));
    memset(area.data(), unwritten, area.size());
    Buffer output(area.data(), capacity);
    const bool failed =
        FileProtocol::buildFilePartPacket(&output, &imageBuffer, partId, partCount, partSize);

    // Worked out in 64 bits: the arguments may be anything an int holds.
    const long long sizeWithHeader =
        static_cast<long long>(partSize) + FileProtocol::partHeaderSize;
    const long long beginning = static_cast<long long>(partId) * partSize;
    const bool acceptable = partSize >= 0 && partId >= 0 && sizeWithHeader <= capacity &&
                            sizeWithHeader <= FileProtocol::partAreaSize &&
                            beginning <= static_cast<long long>(imageSize);
    if (!acceptable) {
        checkPacket(failed, output, capacity, typePart, nullptr);
        return;
    }
    // Part numbers travel as four hex digits; a builder may refuse numbers beyond them.
    if (failed && partId >= 0xFFFF) {
        check(output.getSize() == capacity, "a refused part changed the output size");
        return;
    }
    const size_t length =
        std::min(static_cast<size_t>(partSize), imageSize - static_cast<size_t>(beginning));
    const Bytes carried =
        wire::partData(static_cast<uint32_t>(partCount), static_cast<uint32_t>(partId) + 1,
                       Bytes(image.data() + beginning, image.data() + beginning + length));
    checkPacket(failed, output, capacity, typePart, &carried);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // Packing failures print their sizes straight to standard output.
    FuzzSupport::silenceStdout();
    Log::setLoglevel(-1);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Reader reader(data, size);
    const bool isPart = reader.byte() % 2 == 1;
    const int capacity = reader.u16() % (maxCapacity + 1);
    if (isPart) {
        part(reader, capacity);
    } else {
        request(reader, capacity);
    }
    return 0;
}
