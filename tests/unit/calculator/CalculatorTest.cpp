// The virtual calculator's judgement, driven in process through its USB-facing interface,
// without USB: what it answers, stores and reports for each thing a host may send.

#include "Calculator.h"
#include "E2eSupport.h"
#include "MainMemory.h"
#include "Options.h"
#include "PacketReader.h"
#include "Wire.h"

#include <cstdio>
#include <filesystem>
#include <gtest/gtest.h>
#include <memory>
#include <ostream>

namespace {

Bytes bytes(const std::string& text) {
    return Bytes(text.begin(), text.end());
}

Bytes operator+(Bytes left, const Bytes& right) {
    left.insert(left.end(), right.begin(), right.end());
    return left;
}

Bytes withChecksum(const Bytes& packet) {
    return wire::withChecksum(packet);
}

Bytes rawPacket(uint8_t type, const std::string& subtype, const Bytes& wireData) {
    return wire::frameRaw(type, static_cast<uint8_t>(std::stoul(subtype, nullptr, 16)), wireData);
}

const Bytes connectRequest{0x05, '0', '0', '0', '7', '0'};
const Bytes acknowledgement{0x06, '0', '0', '0', '7', '0'};
const Bytes disconnectSignal{0x18, '0', '0', '0', '7', '0'};

Bytes refusal(const std::string& subtype) {
    return rawPacket(0x15, subtype, {});
}

std::string requestData(unsigned mode, unsigned long size, const std::string& folder,
                        const std::string& file, const std::string& device) {
    const Bytes data =
        wire::commandData({mode, 0x05, static_cast<uint32_t>(size), folder, file, device});
    return std::string(data.begin(), data.end());
}

Bytes fileRequest(unsigned mode, unsigned long size, const std::string& folder,
                  const std::string& file, const std::string& device = "fls0") {
    return wire::frameAsHost(0x01, 0x45, bytes(requestData(mode, size, folder, file, device)));
}

Bytes filePart(unsigned count, unsigned number, const std::string& content) {
    return wire::frameAsHost(0x02, 0x45, wire::partData(count, number, bytes(content)));
}

TEST(WireTest, FramesPacketsByteForByte) {
    EXPECT_EQ(wire::acknowledgement(), acknowledgement);
    EXPECT_EQ(wire::refusal(0x01), (Bytes{0x15, '0', '1', '0', '6', 'F'}));
    EXPECT_EQ(wire::frameAsHost(0x01, 0x45, bytes("AB")), Bytes{0x01} + bytes("4510002AB21"));
    // The two sides differ on 0x5C and 0x1F only.
    const Bytes data{0x00, 0x5C, 0x1F};
    const Bytes fromHost{0x5C, 0x20, 0x5C, 0x7C, 0x1F};
    const Bytes fromCalculator{0x5C, 0x20, 0x5C, 0x5C, 0x5C, 0x3F};
    EXPECT_EQ(wire::frameAsHost(0x02, 0x45, data),
              Bytes{0x02} + bytes("4510005") + fromHost + bytes("2E"));
    EXPECT_EQ(wire::frameAsCalculator(0x02, 0x45, data),
              Bytes{0x02} + bytes("4510006") + fromCalculator + bytes("D1"));
}

TEST(WireTest, LaysOutCommandDataAndReadsItBack) {
    const wire::CommandData command{0x02, 0x05, 0x12345678, "F", "AB", "fls0"};
    const Bytes data = wire::commandData(command);
    EXPECT_EQ(data, bytes("020512345678010200000400FABfls0"));
    std::string problem;
    const std::optional<wire::ParsedCommandData> parsed = wire::parseCommandData(data, problem);
    ASSERT_TRUE(parsed) << problem;
    EXPECT_EQ(parsed->fields.size, 0x12345678u);
    EXPECT_EQ(parsed->fields.name + "|" + parsed->fields.folder + "|" + parsed->fields.device,
              "AB|F|fls0");
    EXPECT_EQ(parsed->unusedFields, "");
    EXPECT_EQ(wire::partData(2, 1, bytes("x")), bytes("00020001x"));
}

TEST(WireTest, RestoresWhatEitherSideSendsAndRejectsBrokenEscapes) {
    Bytes all;
    for (int value = 0; value < 256; ++value) {
        all.push_back(static_cast<uint8_t>(value));
    }
    std::string problem;
    EXPECT_EQ(wire::escapeAsHost(all).size(), 288u);
    EXPECT_EQ(wire::restore(wire::escapeAsHost(all), problem), all);
    EXPECT_EQ(wire::escapeAsCalculator(all).size(), 289u);
    EXPECT_EQ(wire::restore(wire::escapeAsCalculator(all), problem), all);

    EXPECT_FALSE(wire::restore(bytes("AB\\"), problem));
    EXPECT_NE(problem.find("lone escape"), std::string::npos);
    EXPECT_FALSE(wire::restore(Bytes{0x5C, 0x41}, problem));
    EXPECT_NE(problem.find("followed by 0x41"), std::string::npos);
    EXPECT_FALSE(wire::restore(Bytes{0x41, 0x0A}, problem));
    EXPECT_NE(problem.find("unescaped"), std::string::npos);
    EXPECT_EQ(wire::restore(Bytes{0x1F, 0x5C, 0x3E, 0x5C, 0x5C, 0x5C, 0x7C}, problem),
              (Bytes{0x1F, 0x1E, 0x5C, 0x5C}));
}

TEST(PacketReaderTest, JoinsSplitPacketsAndSeparatesJoinedOnes) {
    PacketReader reader;
    EXPECT_TRUE(reader.take(Bytes(connectRequest.begin(), connectRequest.begin() + 2)).empty());
    EXPECT_TRUE(reader.take(Bytes(connectRequest.begin() + 2, connectRequest.end() - 1)).empty());
    std::vector<Frame> frames = reader.take(Bytes{connectRequest.back()});
    ASSERT_EQ(frames.size(), 1u);
    ASSERT_TRUE(frames[0].packet);
    EXPECT_EQ(frames[0].packet->type, 0x05);
    EXPECT_TRUE(reader.waiting().empty());

    const Bytes part = filePart(1, 1, "x\n");
    frames = reader.take(part + connectRequest + Bytes{0x18, '0'});
    ASSERT_EQ(frames.size(), 2u);
    ASSERT_TRUE(frames[0].packet && frames[1].packet);
    EXPECT_EQ(frames[0].packet->data, bytes("00010001x\n"));
    EXPECT_EQ(reader.waiting(), (Bytes{0x18, '0'}));
}

TEST(PacketReaderTest, TellsAWrongLengthFromAWrongChecksum) {
    PacketReader reader;
    Bytes tooLong = rawPacket(0x01, "45", bytes("ABC"));
    tooLong[7] = '2'; // announces 2 bytes, carries 3
    std::vector<Frame> frames =
        reader.take(withChecksum(Bytes(tooLong.begin(), tooLong.end() - 2)));
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_NE(frames[0].problem.find("announces a packet of 12 bytes, the transfer carried 13"),
              std::string::npos);

    Bytes damaged = rawPacket(0x01, "45", bytes("ABC"));
    damaged[9] = 'X';
    frames = reader.take(damaged);
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_NE(frames[0].problem.find("wrong checksum"), std::string::npos);
    EXPECT_TRUE(reader.waiting().empty());
}

class CalculatorTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(storage.prepare());
        start({});
    }

    void start(std::vector<Fault> faults, Calculator::Settings settings = {}) {
        calculator.reset();
        report = std::make_unique<Report>(directory / "report");
        calculator =
            std::make_unique<Calculator>(storage, *report, settings, FaultPlan(std::move(faults)));
    }

    static Calculator::Settings withCapacity(long long capacity) {
        Calculator::Settings settings;
        settings.capacity = capacity;
        return settings;
    }

    // One OUT transfer and one IN transfer, as the host makes them; empty for no answer.
    Bytes exchange(const Bytes& transfer) {
        calculator->received(transfer);
        calculator->inTransferStarted();
        return answer();
    }

    Bytes answer() {
        const std::optional<Bytes> bytes = calculator->nextAnswer(4096);
        return bytes ? *bytes : Bytes{};
    }

    void connect() {
        calculator->received({0x00});
        ASSERT_EQ(exchange(connectRequest), acknowledgement);
    }

    void upload(const std::string& content, const std::string& folder, const std::string& file,
                const std::string& device = "fls0", unsigned mode = 0) {
        ASSERT_EQ(exchange(fileRequest(mode, content.size(), folder, file, device)),
                  acknowledgement);
        const unsigned count = static_cast<unsigned>((content.size() + 255) / 256);
        for (unsigned part = 0; part < count; ++part) {
            ASSERT_EQ(exchange(filePart(count, part + 1, content.substr(part * 256, 256))),
                      acknowledgement)
                << "part " << part + 1;
        }
    }

    std::string reportText() { return readFile(directory / "report"); }
    std::vector<std::string> violations() { return violationsIn(reportText()); }
    std::string stored(const std::string& path) { return readFile(directory / "storage/" + path); }

    TemporaryDirectory directory;
    Storage storage{directory / "storage"};
    std::unique_ptr<Report> report;
    std::unique_ptr<Calculator> calculator;
};

TEST_F(CalculatorTest, StoresFilesWhereTheRequestSays) {
    std::filesystem::create_directory(directory / "storage/crd0");
    connect();
    const std::string content = patternBytes(257);
    upload(content, "", "ABC.TXT");
    upload("x", "PROG", "ONE.G1M", "crd0");
    EXPECT_EQ(exchange(disconnectSignal), acknowledgement);
    calculator->hostGone();

    EXPECT_EQ(stored("fls0/ABC.TXT"), content);
    EXPECT_EQ(stored("crd0/PROG/ONE.G1M"), "x");
    EXPECT_EQ(filesBelow(directory / "storage"),
              (std::vector<std::string>{"crd0/PROG/ONE.G1M", "fls0/ABC.TXT"}));
    EXPECT_TRUE(violations().empty()) << reportText();
}

TEST_F(CalculatorTest, JudgesRequestsAgainstWhatIsStored) {
    writeFile(directory / "storage/fls0/OLD.TXT", "old contents");
    connect();
    EXPECT_EQ(exchange(fileRequest(0, 5, "", "OLD.TXT")), refusal("02"));

    // Overwriting: the old file stays whole until the last part is in.
    ASSERT_EQ(exchange(fileRequest(2, 300, "", "OLD.TXT")), acknowledgement);
    ASSERT_EQ(exchange(filePart(2, 1, std::string(256, 'n'))), acknowledgement);
    EXPECT_EQ(stored("fls0/OLD.TXT"), "old contents");
    ASSERT_EQ(exchange(filePart(2, 2, std::string(44, 'n'))), acknowledgement);
    EXPECT_EQ(stored("fls0/OLD.TXT"), std::string(300, 'n'));
    EXPECT_TRUE(violations().empty()) << reportText();
}

TEST_F(CalculatorTest, RefusesWhatWouldNotFitTheCapacity) {
    writeFile(directory / "storage/fls0/A", std::string(600, 'a'));
    writeFile(directory / "storage/crd0/B", std::string(900, 'b'));
    start({}, withCapacity(1000));
    connect();
    EXPECT_EQ(exchange(fileRequest(0, 401, "", "C")), refusal("05"));
    // What a file replaces is freed, and each device counts on its own.
    EXPECT_EQ(exchange(fileRequest(2, 1000, "", "A")), acknowledgement);
    start({}, withCapacity(1000));
    connect();
    EXPECT_EQ(exchange(fileRequest(0, 100, "", "C", "crd0")), acknowledgement);
    start({}, withCapacity(1000));
    connect();
    EXPECT_EQ(exchange(fileRequest(0, 101, "", "C", "crd0")), refusal("05"));
    EXPECT_TRUE(violations().empty()) << reportText();
}

TEST_F(CalculatorTest, KeepsNamesInsideTheStorage) {
    connect();
    EXPECT_EQ(exchange(fileRequest(0, 1, "", "../ESCAPE")), refusal("03"));
    EXPECT_EQ(exchange(fileRequest(0, 1, "..", "ESCAPE")), refusal("03"));
    EXPECT_EQ(exchange(fileRequest(0, 1, "A/B", "C")), refusal("03"));
    EXPECT_EQ(exchange(fileRequest(0, 1, "", ".")), refusal("03"));
    EXPECT_EQ(exchange(fileRequest(0, 1, "", "")), refusal("03"));
    EXPECT_EQ(exchange(fileRequest(0, 1, "", "X", "fls1")), refusal("04"));
    EXPECT_EQ(exchange(fileRequest(0, 1, "", "X", "..")), refusal("04"));
    // Nor through what the storage holds: links, or a file where a folder should be.
    std::filesystem::create_directory_symlink(directory.path(), directory / "storage/fls0/LINK");
    writeFile(directory / "storage/fls0/PLAIN", "p");
    EXPECT_EQ(exchange(fileRequest(2, 1, "LINK", "X")), refusal("03"));
    EXPECT_EQ(exchange(fileRequest(2, 1, "PLAIN", "X")), refusal("03"));
    EXPECT_EQ(exchange(fileRequest(2, 1, "", "LINK")), refusal("03"));
    EXPECT_EQ(filesBelow(directory.path()),
              (std::vector<std::string>{"report", "storage/fls0/PLAIN"}));
    EXPECT_TRUE(violations().empty()) << reportText();
    EXPECT_NE(reportText().find("not a plain folder and file name"), std::string::npos);
}

TEST_F(CalculatorTest, StoresNothingForAnEmptyOrUnfinishedFile) {
    connect();
    EXPECT_EQ(exchange(fileRequest(0, 0, "", "EMPTY")), acknowledgement);
    ASSERT_EQ(exchange(fileRequest(0, 600, "", "HALF")), acknowledgement);
    ASSERT_EQ(exchange(filePart(3, 1, std::string(256, 'h'))), acknowledgement);
    calculator->hostGone();
    EXPECT_EQ(filesBelow(directory / "storage"), std::vector<std::string>{});
    EXPECT_TRUE(violations().empty()) << reportText();
    EXPECT_NE(reportText().find("after 1 of 3 parts"), std::string::npos);
}

enum class Stage { Idle, Connected, Requested, Disconnected };

struct ViolationCase {
    const char* name;
    Stage stage;
    std::vector<Bytes> transfers; // sent one after the other without reading between them
    const char* reported;
    bool refused; // the host gets 15/00
};

void PrintTo(const ViolationCase& broken, std::ostream* out) {
    *out << broken.name;
}

Bytes replaced(Bytes packet, size_t offset, uint8_t byte) {
    packet[offset] = byte;
    return packet;
}

// After a request for a 300-byte file: two parts of 256 and 44 bytes.
const ViolationCase violationCases[] = {
    {"WrongChecksum", Stage::Connected, {replaced(connectRequest, 5, '1')}, "wrong checksum", true},
    {"LowerCaseChecksum",
     Stage::Connected,
     {replaced(rawPacket(0x05, "01", {}), 5, 'f')},
     "malformed checksum",
     true},
    {"MalformedSubtype",
     Stage::Connected,
     {withChecksum(bytes("\x05"
                         "0G0"))},
     "malformed subtype",
     true},
    {"MalformedFlag",
     Stage::Connected,
     {withChecksum(bytes("\x05"
                         "002"))},
     "neither '0' nor '1'",
     true},
    {"EmptyExtendedData",
     Stage::Connected,
     {withChecksum(bytes("\x01"
                         "4510000"))},
     "length of 0000",
     true},
    {"LoneEscape",
     Stage::Requested,
     {rawPacket(0x02, "45", bytes("00020001\\"))},
     "lone escape",
     true},
    {"BadEscape",
     Stage::Requested,
     {rawPacket(0x02, "45", bytes("00020001\\A"))},
     "followed by 0x41",
     true},
    {"UnescapedControlByte",
     Stage::Requested,
     {rawPacket(0x02, "45", bytes("00020001\n"))},
     "unescaped",
     true},
    {"LengthTooShort",
     Stage::Connected,
     {withChecksum(bytes("\x01"
                         "4510003") +
                   bytes(requestData(0, 1, "", "A", "fls0")))},
     "announces a packet of 13 bytes",
     true},
    {"UnknownType", Stage::Connected, {rawPacket(0x07, "00", {})}, "unknown packet", true},
    {"AcknowledgementFromHost", Stage::Connected, {acknowledgement}, "nothing asked for", true},
    {"ConnectWithData", Stage::Idle, {rawPacket(0x05, "00", bytes("X"))}, "connect request", true},
    {"RequestSubtype",
     Stage::Connected,
     {wire::frameAsHost(0x01, 0x4F, bytes(requestData(0, 1, "", "A", "fls0")))},
     "unknown command 4F",
     true},
    {"RequestBeforeConnect", Stage::Idle, {fileRequest(0, 1, "", "A")}, "before any", true},
    {"RequestMode", Stage::Connected, {fileRequest(3, 1, "", "A")}, "overwrite mode 03", true},
    {"RequestNamesLength",
     Stage::Connected,
     {wire::frameAsHost(0x01, 0x45, bytes(requestData(0, 1, "", "AB", "fls0") + "!"))},
     "fields take 6 bytes, it carries 7",
     true},
    {"RequestWhilePartsDue",
     Stage::Requested,
     {fileRequest(0, 1, "", "B")},
     "while part 1 of 2",
     true},
    {"PartWithoutRequest", Stage::Connected, {filePart(1, 1, "x")}, "without an accepted", true},
    {"PartOutOfOrder",
     Stage::Requested,
     {filePart(2, 2, std::string(44, 'x'))},
     "part 2 came when part 1 was due",
     true},
    {"PartCount", Stage::Requested, {filePart(3, 1, std::string(256, 'x'))}, "says 3 parts", true},
    {"PartSize",
     Stage::Requested,
     {filePart(2, 1, std::string(255, 'x'))},
     "carries 255 bytes instead of 256",
     true},
    {"AfterDisconnect", Stage::Disconnected, {connectRequest}, "after the terminate", false},
    {"AnswerStillOwed", Stage::Connected, {connectRequest, connectRequest}, "still unread", false},
};

class ViolationTest : public CalculatorTest, public ::testing::WithParamInterface<ViolationCase> {
protected:
    void reach(Stage stage) {
        if (stage == Stage::Idle) {
            return;
        }
        connect();
        if (stage == Stage::Requested) {
            ASSERT_EQ(exchange(fileRequest(0, 300, "", "REQ")), acknowledgement);
        } else if (stage == Stage::Disconnected) {
            ASSERT_EQ(exchange(disconnectSignal), acknowledgement);
        }
    }
};

TEST_P(ViolationTest, IsReportedOnceAndRefused) {
    const ViolationCase& broken = GetParam();
    reach(broken.stage);
    for (const Bytes& transfer : broken.transfers) {
        calculator->received(transfer);
    }
    calculator->inTransferStarted();
    const Bytes answered = answer();
    if (broken.refused) {
        EXPECT_EQ(answered, refusal("00"));
    }
    const std::vector<std::string> lines = violations();
    ASSERT_EQ(lines.size(), 1u) << reportText();
    EXPECT_NE(lines[0].find(broken.reported), std::string::npos) << lines[0];
}

INSTANTIATE_TEST_SUITE_P(Host, ViolationTest, ::testing::ValuesIn(violationCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(CalculatorTest, ReportsPacketsLeftUnfinished) {
    connect();
    calculator->received(Bytes(connectRequest.begin(), connectRequest.begin() + 3));
    calculator->inTransferStarted();
    EXPECT_EQ(answer(), refusal("00"));
    calculator->received(Bytes(connectRequest.begin(), connectRequest.begin() + 4));
    calculator->hostGone();
    const std::vector<std::string> lines = violations();
    ASSERT_EQ(lines.size(), 2u) << reportText();
    EXPECT_NE(lines[0].find("waits for an answer to an incomplete packet"), std::string::npos);
    EXPECT_NE(lines[1].find("left an incomplete packet"), std::string::npos);
}

TEST_F(CalculatorTest, PartAfterTheFileIsCompleteIsAViolation) {
    connect();
    upload("z", "", "Z");
    EXPECT_EQ(exchange(filePart(1, 1, "z")), refusal("00"));
    ASSERT_EQ(violations().size(), 1u);
    EXPECT_NE(violations()[0].find("was complete"), std::string::npos);
}

Fault fault(const std::string& option, const std::string& value) {
    const std::optional<Fault> parsed = parseFault(option, value);
    EXPECT_TRUE(parsed) << option << " " << value;
    return parsed ? *parsed : Fault{};
}

TEST_F(CalculatorTest, ResendFaultAsksOnceThenTakesTheCopy) {
    start({fault("--resend", "connect"), fault("--resend", "part:2")});
    calculator->received({0x00});
    EXPECT_EQ(exchange(connectRequest), refusal("01"));
    EXPECT_EQ(exchange(connectRequest), acknowledgement);
    const std::string content = patternBytes(300);
    ASSERT_EQ(exchange(fileRequest(0, 300, "", "R")), acknowledgement);
    ASSERT_EQ(exchange(filePart(2, 1, content.substr(0, 256))), acknowledgement);
    const Bytes second = filePart(2, 2, content.substr(256));
    EXPECT_EQ(exchange(second), refusal("01"));
    EXPECT_EQ(exchange(second), acknowledgement);
    EXPECT_EQ(stored("fls0/R"), content);
    EXPECT_TRUE(violations().empty()) << reportText();
}

TEST_F(CalculatorTest, SilenceLastsForTheGivenTransfersAndACopyIsNotTakenTwice) {
    start({fault("--silent", "part:1:3")});
    connect();
    ASSERT_EQ(exchange(fileRequest(0, 300, "", "S")), acknowledgement);
    const Bytes first = filePart(2, 1, std::string(256, 's'));
    EXPECT_EQ(exchange(first), Bytes{});
    calculator->inTransferAbandoned();
    calculator->inTransferStarted();
    EXPECT_EQ(answer(), Bytes{});
    calculator->inTransferAbandoned();
    // The host gave up waiting and sends the part again: the same answer is still due.
    EXPECT_EQ(exchange(first), Bytes{});
    calculator->inTransferAbandoned();
    calculator->inTransferStarted();
    EXPECT_EQ(answer(), acknowledgement);
    EXPECT_EQ(exchange(filePart(2, 2, std::string(44, 's'))), acknowledgement);
    EXPECT_EQ(stored("fls0/S"), std::string(300, 's'));
    EXPECT_TRUE(violations().empty()) << reportText();
}

TEST_F(CalculatorTest, SilenceForGoodNeverAnswers) {
    start({fault("--silent", "connect")});
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(exchange(connectRequest), Bytes{});
        calculator->inTransferAbandoned();
    }
    EXPECT_EQ(exchange(disconnectSignal), Bytes{});
    EXPECT_TRUE(violations().empty()) << reportText();
}

TEST_F(CalculatorTest, SpoiledAnswersAreWhatTheFaultsSay) {
    start({fault("--corrupt", "connect"), fault("--short", "request:4"),
           fault("--answer", "part:1:150230"), fault("--refuse", "part:2:07")});
    EXPECT_EQ(exchange(connectRequest), replaced(acknowledgement, 5, '1'));
    // A host that does not trust a spoiled answer may send its packet again.
    EXPECT_EQ(exchange(connectRequest), acknowledgement);
    const Bytes request = fileRequest(0, 300, "", "F");
    EXPECT_EQ(exchange(request), Bytes(acknowledgement.begin(), acknowledgement.begin() + 4));
    EXPECT_EQ(exchange(request), acknowledgement);
    EXPECT_EQ(exchange(filePart(2, 1, std::string(256, 'f'))), (Bytes{0x15, 0x02, 0x30}));
    EXPECT_EQ(exchange(filePart(2, 2, std::string(44, 'f'))), refusal("07"));
    EXPECT_TRUE(violations().empty()) << reportText();
}

TEST_F(CalculatorTest, UnplugTakesNothingMore) {
    start({fault("--unplug", "part:1")});
    connect();
    ASSERT_EQ(exchange(fileRequest(0, 10, "", "U")), acknowledgement);
    EXPECT_FALSE(calculator->unplugged());
    EXPECT_EQ(exchange(filePart(1, 1, std::string(10, 'u'))), Bytes{});
    EXPECT_TRUE(calculator->unplugged());
    calculator->hostGone();
    EXPECT_EQ(filesBelow(directory / "storage"), std::vector<std::string>{});
    EXPECT_TRUE(violations().empty()) << reportText();
}

// Main memory, kept in `memory` with room for 1000 bytes, holding a program and a picture.
class MainMemoryTest : public CalculatorTest {
protected:
    void SetUp() override {
        CalculatorTest::SetUp();
        settings.mainMemory = directory / "memory";
        settings.mainMemoryCapacity = 1000;
        memory.store(game, Bytes(12, 'G'));
        memory.store(picture, Bytes(300, 'P'));
        start({}, settings);
        connect();
    }

    static Bytes command(uint8_t code, const MainMemory::Item& item, uint32_t size = 0,
                         unsigned mode = 0) {
        return wire::frameAsHost(
            0x01, code,
            wire::itemData({mode, item.type, size, item.directory, item.name, item.group}));
    }
    static Bytes whole(uint8_t code) { return command(code, {}); }

    // After the role swap, what the calculator sends until it hands the role back.
    std::vector<Bytes> turn() {
        std::vector<Bytes> packets;
        const Bytes roleSwap = wire::frame(0x03, 0x00);
        for (Bytes packet = exchange(roleSwap); packet != roleSwap && packets.size() < 20;
             packet = exchange(acknowledgement)) {
            packets.push_back(packet);
        }
        return packets;
    }

    // What the calculator sends for an item: its 25 header (or 2E entry), then its parts.
    static std::vector<Bytes> sent(uint8_t code, const MainMemory::Item& item, size_t size) {
        const Bytes data(size, static_cast<uint8_t>(item.name[0]));
        std::vector<Bytes> packets = {wire::frameAsCalculator(
            0x01, code,
            wire::itemData({0, item.type, uint32_t(size), item.directory, item.name, item.group}))};
        for (size_t at = 0; code == 0x25 && at < size; at += 256) {
            packets.push_back(wire::frameAsCalculator(
                0x02, code,
                wire::partData(uint32_t((size + 255) / 256), uint32_t(at / 256 + 1),
                               Bytes(data.begin() + at, data.begin() + std::min(size, at + 256)))));
        }
        return packets;
    }

    const MainMemory::Item game{0x01, "system", "GAME", "PROGRAM"};
    const MainMemory::Item picture{0x07, "main", "PICT1", "PICTURE 1"};
    MainMemory memory{directory / "memory"};
    Calculator::Settings settings;
};

std::vector<Bytes> operator+(std::vector<Bytes> left, const std::vector<Bytes>& right) {
    left.insert(left.end(), right.begin(), right.end());
    return left;
}

TEST_F(MainMemoryTest, AnswersInItsTurnWithItemsTheirListingAndTheFreeMemory) {
    const struct {
        Bytes command;
        Bytes answer;
        std::vector<Bytes> turn;
    } cases[] = {
        {whole(0x2D), acknowledgement, sent(0x2E, picture, 300) + sent(0x2E, game, 12)},
        {whole(0x2B),
         acknowledgement,
         {wire::frameAsCalculator(0x01, 0x2C, wire::itemData({0, 0, 1000 - 312, "", "", ""}))}},
        {command(0x24, game), acknowledgement, sent(0x25, game, 12)},
        {whole(0x29), acknowledgement, sent(0x25, picture, 300) + sent(0x25, game, 12)},
        {command(0x24, {0x02, "system", "GAME", "PROGRAM"}), refusal("04"), {}},
    };
    for (const auto& scenario : cases) {
        EXPECT_EQ(exchange(scenario.command), scenario.answer) << wire::hexDump(scenario.command);
        if (scenario.answer == acknowledgement) {
            EXPECT_EQ(turn(), scenario.turn) << wire::hexDump(scenario.command);
        }
    }
    EXPECT_TRUE(violations().empty()) << reportText();
}

// Each offer on a fresh memory that holds the program: the answers to what the host sends,
// one after the other, then what is stored under the item's names.
TEST_F(MainMemoryTest, TakesItemsAsFilesAreTakenAndDeletesThem) {
    const MainMemory::Item odd{0x01, "", "A.B/C", "PROGRAM"};
    const Bytes part = wire::frameAsHost(0x02, 0x25, wire::partData(1, 1, Bytes(8, 'n')));
    const Bytes yes = wire::acknowledgement(0x01);
    const struct {
        std::vector<std::pair<Bytes, Bytes>> exchanges;
        MainMemory::Item item;
        std::optional<Bytes> stored;
    } cases[] = {
        {{{command(0x25, game, 8), refusal("02")}, {yes, acknowledgement}, {part, acknowledgement}},
         game,
         Bytes(8, 'n')},
        {{{command(0x25, game, 8), refusal("02")}, {refusal("03"), acknowledgement}},
         game,
         Bytes(12, 'G')},
        {{{command(0x25, game, 8, 2), acknowledgement}, {part, acknowledgement}},
         game,
         Bytes(8, 'n')},
        {{{command(0x25, odd, 7), refusal("04")}}, odd, std::nullopt}, // not whole words
        {{{command(0x25, odd, 1000 - 12 + 4), refusal("05")}}, odd, std::nullopt},
        {{{command(0x25, odd, 0), acknowledgement}}, odd, Bytes{}},
        {{{command(0x26, game, 12), acknowledgement}}, game, std::nullopt},
        {{{command(0x26, odd), refusal("04")}}, odd, std::nullopt},
        {{{command(0x25, odd, 8), acknowledgement}, {part, acknowledgement}}, odd, Bytes(8, 'n')},
    };
    for (const auto& scenario : cases) {
        std::filesystem::remove_all(directory / "memory");
        memory.store(game, Bytes(12, 'G'));
        start({}, settings);
        connect();
        for (const auto& [sent, answer] : scenario.exchanges) {
            EXPECT_EQ(exchange(sent), answer) << wire::hexDump(sent);
        }
        EXPECT_EQ(memory.read(scenario.item), scenario.stored)
            << wire::hexDump(scenario.exchanges[0].first);
        EXPECT_TRUE(violations().empty()) << reportText();
    }
    // The last item, its odd names kept plainly in the layout, and listed back.
    EXPECT_EQ(memory.list().front().item.name, "A.B/C");
    EXPECT_TRUE(fileExists(directory / "memory/PROGRAM/%/A%2EB%2FC.01"));
}

// What the host sends one after the other; nothing stands for the host leaving.
TEST_F(MainMemoryTest, ReportsCommandsLaidOutWrongTheResetAndItemsLeftHalfSent) {
    const struct {
        std::vector<Bytes> transfers;
        const char* reported;
    } cases[] = {
        {{whole(0x29), wire::frame(0x03, 0x00), {}}, "data phase of 24 or 29"},
        {{command(0x29, game)}, "on the whole memory"},
        {{command(0x24, game, 4)}, "size of 4"},
        {{wire::frameAsHost(0x01, 0x25, wire::commandData({0, 1, 4, "system", "GAME", "fls0"}))},
         "unused fields 4 to 6"},
        {{whole(0x2A)}, "reset of main memory"},
        {{fileRequest(0, 8, "", "F"),
          wire::frameAsHost(0x02, 0x25, wire::partData(1, 1, Bytes(8)))},
         "a part of command 25 while those of 45 are due"},
    };
    for (const auto& scenario : cases) {
        start({}, settings);
        connect();
        for (const Bytes& transfer : scenario.transfers) {
            if (transfer.empty()) {
                calculator->hostGone();
            } else {
                exchange(transfer);
            }
        }
        ASSERT_EQ(violations().size(), 1u) << reportText();
        EXPECT_NE(violations()[0].find(scenario.reported), std::string::npos) << violations()[0];
        EXPECT_EQ(memory.list().size(), 2u) << "main memory untouched";
        std::filesystem::remove(directory / "report");
    }
}

TEST_F(MainMemoryTest, AModelWithoutStorageMemoryRefusesTheStorageCommands) {
    settings.noStorageMemory = true;
    start({}, settings);
    connect();
    for (const uint8_t code : {0x44, 0x45, 0x46, 0x4B, 0x4D, 0x51}) {
        const Bytes data = wire::commandData({0, 0, 0, "", "A", "fls0"});
        EXPECT_EQ(exchange(wire::frameAsHost(0x01, code, data)), refusal("04")) << int(code);
    }
    EXPECT_TRUE(violations().empty()) << reportText();
}

ParsedOptions parse(std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), "VirtualCalculator");
    std::vector<char*> argv;
    for (std::string& argument : arguments) {
        argv.push_back(argument.data());
    }
    return parseOptions(static_cast<int>(argv.size()), argv.data());
}

TEST(OptionsTest, ReadsFaultsAndTheCommand) {
    const ParsedOptions parsed = parse({"--capacity",
                                        "4096",
                                        "--silent",
                                        "part:12:3",
                                        "--refuse",
                                        "request:A",
                                        "--no-device",
                                        "--idle-turnaround",
                                        "30",
                                        "--busy-turnaround",
                                        "3",
                                        "--cannot-pipeline",
                                        "--main-memory",
                                        "M",
                                        "--main-memory-from",
                                        "A.g1m",
                                        "--main-memory-from",
                                        "B.g1m",
                                        "--main-memory-capacity",
                                        "99",
                                        "--no-storage-memory",
                                        "--",
                                        "prog",
                                        "--silent",
                                        "x"});
    ASSERT_EQ(parsed.outcome, ParsedOptions::Run) << parsed.error;
    EXPECT_EQ(parsed.options.capacity, 4096);
    EXPECT_EQ(parsed.options.idleTurnaroundMs, 30);
    EXPECT_EQ(parsed.options.busyTurnaroundMs, 3);
    EXPECT_TRUE(parsed.options.cannotPipeline);
    EXPECT_EQ(parsed.options.mainMemoryFrom, (std::vector<std::string>{"A.g1m", "B.g1m"}));
    EXPECT_TRUE(parsed.options.noStorageMemory);
    EXPECT_TRUE(parsed.options.noDevice);
    EXPECT_EQ(parsed.options.command, (std::vector<std::string>{"prog", "--silent", "x"}));
    ASSERT_EQ(parsed.options.faults.size(), 2u);
    EXPECT_EQ(parsed.options.faults[0].place, (FaultPlace{FaultPlace::Part, 12}));
    EXPECT_EQ(parsed.options.faults[0].silentTransfers, 3u);
    EXPECT_EQ(parsed.options.faults[1].refusalSubtype, 0x0A);
}

TEST(OptionsTest, RejectsWhatItCannotHonour) {
    for (const std::vector<std::string>& arguments : std::vector<std::vector<std::string>>{
             {
                 "--",
             },
             {"prog"},
             {"--chunk", "0", "--", "prog"},
             {"--silent", "part:0", "--", "prog"},
             {"--short", "connect:6", "--", "prog"},
             {"--resend", "connect:1", "--", "prog"},
             {"--answer", "request:0", "--", "prog"},
             {"--refuse", "request:100", "--", "prog"},
             {"--unplug", "parts:1", "--", "prog"},
             {"--stream", "log.bin", "--corrupt", "connect", "--", "prog"},
             {"--stream", "log.bin", "--cannot-pipeline", "--", "prog"},
             {"--stream", "log.bin", "--main-memory-from", "A.g1m", "--", "prog"},
             {"--idle-turnaround", "2.5", "--", "prog"},
             {"--busy-turnaround", "-3", "--", "prog"},
             {"--capacity", "-1", "--", "prog"},
             {"--calculators", "0", "--", "prog"},
             {"--calculators", "30", "--drives", "3", "--", "prog"},
             {"--calculators", "3", "--at", "1-4.4", "--long-info", "--", "prog"},
             {"--calculators", "3", "--at", "1-4.2", "--storage", "x", "--", "prog"},
             {"--calculators", "3", "--at", "1-4.2", "--capacity", "x", "--", "prog"},
             {"--drive", "--stream", "log.bin", "--", "prog"},
             {"--calculators", "2", "--at", "1-4.2", "--stream", "x", "--capacity", "5", "--", "p"},
             {"--no-device", "--drive", "--", "prog"}}) {
        EXPECT_EQ(parse(arguments).outcome, ParsedOptions::Invalid) << arguments[0];
    }
}

// Options for all, then each calculator's own on top, its faults after the common ones.
TEST(OptionsTest, GivesEachCalculatorItsOwnOptionsAfterAt) {
    const ParsedOptions parsed =
        parse({"--calculators", "2", "--drive", "--refuse", "part:1", "--at", "1-4.2", "--capacity",
               "100", "--unplug", "part:2", "--at", "1-4.3", "--whole-disk", "--", "prog"});
    ASSERT_EQ(parsed.outcome, ParsedOptions::Run) << parsed.error;
    const Options first = forCalculator(parsed.options, "1-4.1");
    const Options second = forCalculator(parsed.options, "1-4.2");
    const Options drive = forCalculator(parsed.options, "1-4.3");
    EXPECT_EQ(first.capacity, std::nullopt);
    EXPECT_EQ(second.capacity, 100);
    ASSERT_EQ(second.faults.size(), 2u);
    EXPECT_EQ(second.faults[1].kind, Fault::Unplug);
    EXPECT_EQ(first.faults.size(), 1u);
    EXPECT_TRUE(drive.wholeDisk);
    EXPECT_FALSE(second.wholeDisk);
    EXPECT_EQ(layoutOf(parsed.options).seats().back().kind, Seat::Kind::Drive);
}

} // namespace
