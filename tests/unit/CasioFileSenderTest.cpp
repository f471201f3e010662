// Sending a file, or a main-memory item, over the libusb double, part by part and pipelined:
// the bytes on the wire, the order of the transfers, the overwrite question, and every answer
// that breaks a pipelined transfer.

#include "CasioFileSender.h"
#include "CalcConnector.h"
#include "CasioMainMemory.h"
#include "CasioProtocolTools.h"
#include "CasioStorage.h"
#include "LibusbDouble.h"
#include "LinkInterrupt.h"
#include "LinkOverDouble.h"
#include "Log.h"
#include "StdoutCapture.h"
#include "UsbContext.h"
#include "Wire.h"

#include <gtest/gtest.h>
#include <map>
#include <string>

namespace {

using LibusbDouble::Bytes;

Bytes image(size_t size) {
    Bytes bytes(size);
    for (size_t i = 0; i < size; ++i) {
        bytes[i] = static_cast<uint8_t>(i % 7 == 0 ? wire::escapeByte : i);
    }
    return bytes;
}

// What the host sends, as the wire module frames it.
Bytes fileCommand(uint32_t mode, const Bytes& file) {
    return wire::frameAsHost(wire::typeCommand, wire::commandFile,
                             wire::commandData({mode, 5, static_cast<uint32_t>(file.size()), "DIR",
                                                "GAME.G1A", "fls0"}));
}

Bytes part(const Bytes& file, uint32_t number, uint8_t code = wire::commandFile) {
    const uint32_t count = static_cast<uint32_t>((file.size() + 255) / 256);
    const size_t begin = (number - 1) * 256;
    const size_t end = std::min(file.size(), begin + 256);
    return wire::frameAsHost(
        wire::typeData, code,
        wire::partData(count, number, Bytes(file.begin() + begin, file.begin() + end)));
}

// A calculator over the double: it answers the file command and every part with an
// acknowledgement, unless told to answer a packet otherwise. Packets are counted from 0, the
// file command first.
class Answering {
public:
    Answering() {
        LibusbDouble::setResponder([this](const Bytes& sent) {
            const auto special = answers.find(packets++);
            LibusbDouble::queueIn(
                {special == answers.end() ? wire::acknowledgement() : special->second, 0});
            (void)sent;
        });
    }
    std::map<int, Bytes> answers;
    int packets = 0;
};

// Also asks for a stop, as Ctrl-C does, once `stopAfter` parts are acknowledged.
class Progress : public CasioSendListener {
public:
    void partsAcknowledged(int parts, int partCount) override {
        EXPECT_EQ(parts, last + 1);
        last = parts;
        count = partCount;
        if (parts == stopAfter) {
            LinkInterrupt::request();
        }
    }
    int last = 0;
    int count = 0;
    int stopAfter = 0;
};

class FileSenderTest : public LinkOverDouble {
protected:
    bool send(Bytes& file, bool pipelined, bool overwrite = false) {
        Buffer view(file.data(), static_cast<int>(file.size()));
        const CasioUpload upload = {"DIR", "GAME.G1A", "fls0", &view, overwrite, pipelined};
        StdoutCapture capture;
        const bool failed = CasioFileSender::sendFile(&socket, upload, &progress, &refusal);
        capture.finish();
        return failed;
    }

    // The directions of the transfers, in order: 'O' and 'I'.
    static std::string transferOrder() {
        std::string order;
        for (const auto& transfer : LibusbDouble::transfers()) {
            order += (transfer.endpoint & 0x80) != 0 ? 'I' : 'O';
        }
        return order;
    }

    Progress progress;
    int refusal = 0;
};

TEST_F(FileSenderTest, PartByPartEachPartWaitsForItsAcknowledgement) {
    Bytes file = image(600);
    Answering calculator;
    ASSERT_FALSE(send(file, false));
    Bytes expected = fileCommand(0, file);
    for (uint32_t number = 1; number <= 3; ++number) {
        const Bytes packet = part(file, number);
        expected.insert(expected.end(), packet.begin(), packet.end());
    }
    EXPECT_EQ(LibusbDouble::bytesSent(), expected);
    EXPECT_EQ(transferOrder(), "OIOIOIOI");
    EXPECT_EQ(progress.last, 3);
    EXPECT_EQ(refusal, CasioStorage::notRefused);
}

// One OUT and one IN transfer per part, the acknowledgements trailing by one, the last read
// before the call returns.
TEST_F(FileSenderTest, PipelinedPartsGoOutBeforeTheAnswerToTheOneBefore) {
    Bytes file = image(1000);
    Answering calculator;
    ASSERT_FALSE(send(file, true));
    Bytes expected = fileCommand(0, file);
    for (uint32_t number = 1; number <= 4; ++number) {
        const Bytes packet = part(file, number);
        expected.insert(expected.end(), packet.begin(), packet.end());
    }
    EXPECT_EQ(LibusbDouble::bytesSent(), expected);
    EXPECT_EQ(transferOrder(), "OI"
                               "O"
                               "OI"
                               "OI"
                               "OI"
                               "I");
    EXPECT_EQ(progress.last, 4);
    EXPECT_EQ(progress.count, 4);
}

// Whatever is not a plain acknowledgement breaks a pipelined transfer; the answer still owed
// for the part in flight is read, and nothing more is sent.
TEST_F(FileSenderTest, AnythingButAnAcknowledgementBreaksAPipelinedTransfer) {
    const struct {
        const char* name;
        Bytes answer;
    } cases[] = {
        {"a request to send again", wire::refusal(wire::refusedResend)},
        {"memory full", wire::refusal(wire::refusedFull)},
        {"a damaged acknowledgement", {0x06, '0', '0', '0', '7', '1'}},
        {"another acknowledgement", wire::acknowledgement(wire::ackOverwrite)},
    };
    for (const auto& scenario : cases) {
        LibusbDouble::clearScript();
        connectAgain();
        progress = Progress();
        Bytes file = image(1000);
        Answering calculator;
        calculator.answers[2] = scenario.answer; // part 2
        EXPECT_TRUE(send(file, true)) << scenario.name;
        EXPECT_EQ(refusal, CasioFileSender::pipelineBroken) << scenario.name;
        // Command, part 1, part 2, part 3 out; their answers in, the last one owed included.
        EXPECT_EQ(transferOrder(), "OIOOIOII") << scenario.name;
    }
}

TEST_F(FileSenderTest, ASilentCalculatorBreaksAPipelinedTransferWithoutWaitingTwice) {
    Bytes file = image(1000);
    LibusbDouble::setResponder([](const Bytes& sent) {
        if (sent[0] == wire::typeCommand) {
            LibusbDouble::queueIn({wire::acknowledgement(), 0});
        }
    });
    const long long start = LibusbDouble::now();
    EXPECT_TRUE(send(file, true));
    EXPECT_EQ(refusal, CasioFileSender::pipelineBroken);
    EXPECT_STRNE(CasioStorage::refusalReason(refusal), CasioStorage::refusalReason(0x00))
        << "a broken pipeline is no refusal";
    EXPECT_LE(LibusbDouble::now() - start, 12000);
}

// The calculator asks before replacing a file: no leaves it, yes replaces it.
TEST_F(FileSenderTest, AnExistingFileIsLeftOrReplacedAsAsked) {
    for (const bool overwrite : {false, true}) {
        LibusbDouble::clearTransfers();
        LibusbDouble::clearScript();
        Bytes file = image(100);
        Answering calculator;
        calculator.answers[0] = wire::refusal(wire::refusedExists);
        EXPECT_EQ(send(file, false, overwrite), !overwrite);
        const Bytes reply = overwrite ? wire::acknowledgement(wire::ackOverwrite)
                                      : wire::refusal(wire::refusedOverwrite);
        Bytes expected = fileCommand(overwrite ? 2 : 0, file);
        expected.insert(expected.end(), reply.begin(), reply.end());
        if (overwrite) {
            const Bytes packet = part(file, 1);
            expected.insert(expected.end(), packet.begin(), packet.end());
        } else {
            EXPECT_EQ(refusal, wire::refusedExists);
        }
        EXPECT_EQ(LibusbDouble::bytesSent(), expected) << overwrite;
    }
}

TEST_F(FileSenderTest, ARefusalPartByPartIsReportedAndEndsTheFile) {
    Bytes file = image(1000);
    Answering calculator;
    calculator.answers[2] = wire::refusal(wire::refusedFull);
    EXPECT_TRUE(send(file, false));
    EXPECT_EQ(refusal, wire::refusedFull);
    EXPECT_EQ(transferOrder(), "OIOIOI");
    EXPECT_EQ(progress.last, 1);
}

// A stop ends the file before its next part, with nothing to send again; a pipelined part
// in flight still has its answer read.
TEST_F(FileSenderTest, AStopEndsTheFileBeforeItsNextPart) {
    const struct {
        bool pipelined;
        std::string order;
    } cases[] = {
        {false, "OIOIOI"},  // command, parts 1 and 2
        {true, "OIOOIOII"}, // command, parts 1 to 3, then the answer owed to part 3
    };
    for (const auto& scenario : cases) {
        LibusbDouble::clearScript();
        connectAgain();
        progress = Progress();
        progress.stopAfter = 2;
        Bytes file = image(2000);
        Answering calculator;
        EXPECT_TRUE(send(file, scenario.pipelined));
        LinkInterrupt::clear();
        EXPECT_EQ(refusal, CasioStorage::notRefused) << scenario.pipelined;
        EXPECT_EQ(transferOrder(), scenario.order) << scenario.pipelined;
        EXPECT_EQ(progress.last, 2) << scenario.pipelined;
    }
}

// An item goes out as a file does (the question, the parts pipelined), padded with zeros to
// whole words: the size announced and the bytes of its last part.
TEST_F(FileSenderTest, AnItemGoesOutPaddedToWholeWordsAsAFileDoes) {
    Bytes data = image(1023);
    Buffer view(data.data(), static_cast<int>(data.size()));
    Answering calculator;
    calculator.answers[0] = wire::refusal(wire::refusedExists);
    const CasioItemUpload item = {CasioMainMemory::naming(0x01, "system", "GAME", "PROGRAM"), &view,
                                  true, true};
    EXPECT_FALSE(CasioMainMemory::sendItem(&socket, item, &progress, &refusal));
    data.push_back(0);
    Bytes expected = wire::frameAsHost(wire::typeCommand, wire::commandItem,
                                       wire::itemData({2, 1, 1024, "system", "GAME", "PROGRAM"}));
    const Bytes yes = wire::acknowledgement(wire::ackOverwrite);
    expected.insert(expected.end(), yes.begin(), yes.end());
    for (uint32_t number = 1; number <= 4; ++number) {
        const Bytes packet = part(data, number, wire::commandItem);
        expected.insert(expected.end(), packet.begin(), packet.end());
    }
    EXPECT_EQ(LibusbDouble::bytesSent(), expected);
    EXPECT_EQ(progress.last, 4);
}

TEST_F(FileSenderTest, FilesTheProtocolCannotCarryAreRefusedBeforeAnything) {
    for (size_t size : {size_t(0), size_t(CasioFileSender::maxFileSize) + 1}) {
        Bytes file(size);
        EXPECT_TRUE(send(file, false)) << size;
    }
    EXPECT_TRUE(LibusbDouble::transfers().empty());
}

} // namespace
