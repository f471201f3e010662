// The readers of what a calculator sends beyond plain answers: the storage command header,
// the device information block, data parts, and the storage commands whole, the
// calculator's turn included, against a calculator scripted by the input through the libusb
// double. Whatever it sends, a command ends (the double's clock makes silence cost nothing),
// and what reaches the caller keeps the library's promises.
//
// Input: operation (1 byte, modulo 7)
//   0 header, 1 information block, 2 data part: the rest of the input is the data read
//   3 fetch a file, 4 list the files, 5 free space, 6 device information: then answers, one
//     given out after each packet the host sends, each a kind byte (modulo 8):
//       0 raw:       length (2 bytes, modulo 2200), then up to that many bytes
//       1 framed:    type, subtype, length (2 bytes, modulo 1100), then the data
//       2 command:   code, size (4 bytes), then three names, each a length byte (modulo 64)
//                    and the bytes: folder, name, device
//       3 part:      count (2 bytes), number (2 bytes), length (2 bytes, modulo 300), bytes
//       4 acknowledgement    5 role swap    6 refusal: subtype
//       7 silence (the receive times out)
// Answers are framed as a calculator frames them, with the virtual calculator's wire module.

#include "CalcConnector.h"
#include "CasioCommandHeader.h"
#include "CasioDataPart.h"
#include "CasioDeviceInfo.h"
#include "CasioStorage.h"
#include "FuzzSupport.h"
#include "LibusbDouble.h"
#include "Log.h"
#include "UsbContext.h"
#include "Wire.h"

#include <deque>
#include <libusb.h>
#include <string>

using FuzzSupport::check;
using FuzzSupport::ExactBytes;
using FuzzSupport::Reader;
using LibusbDouble::Bytes;
using LibusbDouble::InStep;

namespace {

constexpr size_t maxAnswers = 400;

Bytes takeBytes(Reader& reader, size_t count) {
    const uint8_t* bytes = nullptr;
    const size_t taken = reader.take(count, &bytes);
    return Bytes(bytes, bytes + taken);
}

uint32_t number(Reader& reader, int bytes) {
    uint32_t value = 0;
    for (int i = 0; i < bytes; ++i) {
        value = value << 8 | reader.byte();
    }
    return value;
}

std::string name(Reader& reader) {
    const Bytes bytes = takeBytes(reader, reader.byte() % 64);
    return std::string(bytes.begin(), bytes.end());
}

InStep answer(Reader& reader) {
    switch (reader.byte() % 8) {
    case 0:
        return {takeBytes(reader, reader.u16() % 2200), 0};
    case 1: {
        const uint8_t type = reader.byte();
        const uint8_t subtype = reader.byte();
        return {wire::frameAsCalculator(type, subtype, takeBytes(reader, reader.u16() % 1100)), 0};
    }
    case 2: {
        const uint8_t code = reader.byte();
        wire::CommandData command;
        command.size = number(reader, 4);
        command.folder = name(reader);
        command.name = name(reader);
        command.device = name(reader);
        return {wire::frameAsCalculator(wire::typeCommand, code, wire::commandData(command)), 0};
    }
    case 3: {
        const uint32_t count = number(reader, 2);
        const uint32_t partNumber = number(reader, 2);
        const Bytes bytes = takeBytes(reader, reader.u16() % 300);
        return {wire::frameAsCalculator(wire::typeData, wire::commandFile,
                                        wire::partData(count, partNumber, bytes)),
                0};
    }
    case 4:
        return {wire::acknowledgement(), 0};
    case 5:
        return {wire::frame(wire::typeRoleSwap, 0x00), 0};
    case 6:
        return {wire::refusal(reader.byte()), 0};
    default:
        return {{}, LIBUSB_ERROR_TIMEOUT};
    }
}

// Checks the sink's promise: the file's bytes in order, never more than announced.
class CheckingSink : public CasioFileSink {
public:
    void fileAnnounced(uint32_t size) override {
        check(!announced, "a file was announced twice to the sink");
        announced = true;
        announcedSize = size;
    }
    bool fileBytes(const Buffer& bytes) override {
        check(announced, "bytes reached the sink before the file was announced");
        check(bytes.getSize() >= 0, "a negative count of bytes");
        received += static_cast<uint64_t>(bytes.getSize());
        check(received <= announcedSize, "more bytes reached the sink than announced");
        FuzzSupport::touch(bytes.getData(), bytes.getSize());
        return false;
    }

    bool announced = false;
    uint64_t announcedSize = 0;
    uint64_t received = 0;
};

class CheckingLister : public CasioFileLister {
public:
    void fileListed(const CasioFileEntry& entry) override {
        check(entry.name.getSize() > 0, "an entry without a name was listed as a file");
        FuzzSupport::touch(entry.name.getData(), entry.name.getSize());
        FuzzSupport::touch(entry.folder.getData(), entry.folder.getSize());
    }
};

void checkText(const char* text, size_t capacity) {
    size_t length = 0;
    while (length < capacity && text[length] != '\0') {
        check(static_cast<unsigned char>(text[length]) >= 0x20 && text[length] != 0x7F,
              "a control character in the device information");
        ++length;
    }
    check(length < capacity, "device information text without its terminator");
}

void checkInfo(const CasioDeviceInfo& info) {
    checkText(info.hardwareId, sizeof info.hardwareId);
    checkText(info.processor, sizeof info.processor);
    checkText(info.osVersion, sizeof info.osVersion);
    checkText(info.bootVersion, sizeof info.bootVersion);
    checkText(info.protocolVersion, sizeof info.protocolVersion);
    checkText(info.productId, sizeof info.productId);
    checkText(info.userName, sizeof info.userName);
    check(info.flashKiB >= -1 && info.ramKiB >= -1, "a capacity below -1");
}

void readData(int operation, Reader& reader) {
    const Bytes rest = takeBytes(reader, reader.remaining());
    ExactBytes data(rest.data(), rest.size());
    Buffer view(data.data(), data.intSize());
    if (operation == 0) {
        CasioStorageCommand command{};
        if (!CasioCommandHeader::read(&view, &command)) {
            for (const Buffer& field : command.fields) {
                check(field.getSize() >= 0 &&
                          field.getData() + field.getSize() <= data.data() + data.size(),
                      "a field reaches past the data");
                FuzzSupport::touch(field.getData(), field.getSize());
            }
        }
    } else if (operation == 1) {
        CasioDeviceInfo info{};
        check(CasioDeviceInfo::read(&view, &info) == (data.size() < CasioDeviceInfo::blockSize),
              "the information block is judged by anything but its length");
        if (data.size() >= CasioDeviceInfo::blockSize) {
            checkInfo(info);
        }
    } else {
        CasioPart part{};
        if (!CasioDataPart::read(&view, &part)) {
            check(part.bytes.getSize() == data.intSize() - CasioDataPart::headerSize,
                  "a part's bytes are not the rest of its data");
        }
    }
}

void runCommand(int operation, Reader& reader) {
    std::deque<InStep> answers;
    while (reader.remaining() > 0 && answers.size() < maxAnswers) {
        answers.push_back(answer(reader));
    }
    LibusbDouble::reset();
    LibusbDouble::addDevice(CalcConnector::calcVendorId, CalcConnector::calcProductId);
    UsbContext context;
    context.initUsbContext();
    Socket socket;
    check(!socket.setDeviceHandle(CalcConnector::connect(&context)), "the double did not open");
    LibusbDouble::setResponder([&answers](const Bytes&) {
        if (!answers.empty()) {
            LibusbDouble::queueIn(answers.front());
            answers.pop_front();
        }
    });

    if (operation == 3) {
        CheckingSink sink;
        if (!CasioStorage::fetchFile(&socket, "F", "NAME", "fls0", &sink)) {
            check(sink.announced && sink.received == sink.announcedSize,
                  "a fetch succeeded without the whole file");
        }
    } else if (operation == 4) {
        CheckingLister lister;
        CasioStorage::listFiles(&socket, "fls0", &lister);
    } else if (operation == 5) {
        uint32_t freeBytes = 0;
        CasioStorage::freeSpace(&socket, "fls0", &freeBytes);
    } else {
        CasioDeviceInfo info{};
        if (!CasioStorage::readDeviceInfo(&socket, &info)) {
            checkInfo(info);
        }
    }
    check(!LibusbDouble::misuseSeen(), "the handle was misused");
    LibusbDouble::setResponder(nullptr);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    FuzzSupport::silenceStdout();
    Log::setLoglevel(-1);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Reader reader(data, size);
    const int operation = reader.byte() % 7;
    if (operation < 3) {
        readData(operation, reader);
    } else {
        runCommand(operation, reader);
    }
    LibusbDouble::reset();
    return 0;
}
