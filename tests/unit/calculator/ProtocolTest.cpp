// The storage commands and the calculator's turn, driven in process byte by byte: what the
// calculator answers and sends for each command, and what it holds against the host.

#include "Calculator.h"
#include "DeviceInfo.h"
#include "E2eSupport.h"
#include "Options.h"
#include "Wire.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <memory>
#include <thread>

namespace {

Bytes bytes(const std::string& text) {
    return Bytes(text.begin(), text.end());
}

const Bytes ack = wire::acknowledgement();
const Bytes roleSwap = wire::frame(wire::typeRoleSwap, 0x00);
const Bytes resend = wire::refusal(wire::refusedResend);

Bytes refusal(uint8_t subtype) {
    return wire::refusal(subtype);
}

Bytes command(uint8_t code, const std::string& folder, const std::string& name,
              const std::string& device = "fls0", unsigned mode = 0, uint32_t size = 0,
              unsigned dataType = 0) {
    return wire::frameAsHost(wire::typeCommand, code,
                             wire::commandData({mode, dataType, size, folder, name, device}));
}

// What the calculator sends describing a file: a 45 header, a 4E entry, a 4C answer.
Bytes described(uint8_t code, uint32_t size, const std::string& folder, const std::string& name,
                const std::string& device = "fls0") {
    return wire::frameAsCalculator(wire::typeCommand, code,
                                   wire::commandData({0, 0, size, folder, name, device}));
}

Bytes part(uint32_t count, uint32_t number, const std::string& content) {
    return wire::frameAsCalculator(wire::typeData, wire::commandFile,
                                   wire::partData(count, number, bytes(content)));
}

Fault fault(const std::string& option, const std::string& value) {
    const std::optional<Fault> parsed = parseFault(option, value);
    EXPECT_TRUE(parsed) << option << " " << value;
    return parsed ? *parsed : Fault{};
}

class ProtocolTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(storage.prepare());
        start();
    }

    void start(Calculator::Settings settings = {}, std::vector<Fault> faults = {}) {
        calculator.reset();
        report = std::make_unique<Report>(directory / "report");
        calculator =
            std::make_unique<Calculator>(storage, *report, settings, FaultPlan(std::move(faults)));
        calculator->deviceOpened();
        ASSERT_EQ(exchange(wire::frame(wire::typeCheck, wire::checkOpen)), ack);
    }

    Bytes exchange(const Bytes& transfer) {
        calculator->received(transfer);
        calculator->inTransferStarted();
        const std::optional<Bytes> answer = calculator->nextAnswer(4096);
        return answer ? *answer : Bytes{};
    }

    // A flow-A command accepted, then everything the calculator sends after the role
    // swap, acknowledging each packet, up to and with its own role swap.
    std::vector<Bytes> receiveAll(const Bytes& request) {
        EXPECT_EQ(exchange(request), ack);
        std::vector<Bytes> sent{exchange(roleSwap)};
        while (sent.back() != roleSwap && sent.size() < 100) {
            sent.push_back(exchange(ack));
        }
        return sent;
    }

    void file(const std::string& path, const std::string& content) {
        writeFile(directory / ("storage/" + path), content);
    }
    std::string reportText() { return readFile(directory / "report"); }
    std::vector<std::string> violations() { return violationsIn(reportText()); }

    TemporaryDirectory directory;
    Storage storage{directory / "storage"};
    std::unique_ptr<Report> report;
    std::unique_ptr<Calculator> calculator;
};

TEST_F(ProtocolTest, SeveralCommandsInOneSession) {
    file("fls0/A.TXT", "abc");
    EXPECT_EQ(exchange(command(wire::commandDelete, "", "A.TXT")), ack);
    EXPECT_EQ(exchange(wire::frame(wire::typeCheck, wire::checkKeepAlive)), ack);
    EXPECT_EQ(exchange(command(wire::commandOptimize, "", "")), ack);
    EXPECT_EQ(receiveAll(command(wire::commandList, "", "")), std::vector<Bytes>{roleSwap});
    EXPECT_EQ(exchange(wire::frame(wire::typeTerminate, 0x01)), ack);
    calculator->hostGone();
    EXPECT_FALSE(fileExists(directory / "storage/fls0/A.TXT"));
    EXPECT_TRUE(violations().empty()) << reportText();
}

struct Refused {
    const char* name;
    Bytes command;
    uint8_t subtype;
};

// Missing things are refused with 15 04, and that is an answer, not a violation.
TEST_F(ProtocolTest, CommandsOnWhatIsNotThereAreRefused) {
    file("fls0/HERE", "h");
    const Refused cases[] = {
        {"delete a missing file", command(wire::commandDelete, "", "GONE"), 0x04},
        {"delete a folder", command(wire::commandDelete, "", "DIR"), 0x04},
        {"delete on the absent card", command(wire::commandDelete, "", "HERE", "crd0"), 0x04},
        {"send a missing file", command(wire::commandSendMe, "F", "HERE"), 0x04},
        {"send a name with a slash", command(wire::commandSendMe, "", "../HERE"), 0x04},
        {"send from an unknown device", command(wire::commandSendMe, "", "HERE", "fls1"), 0x04},
        {"list the absent card", command(wire::commandList, "", "", "crd0"), 0x04},
        {"free space of the absent card", command(wire::commandFree, "", "", "crd0"), 0x04},
        {"optimize the absent card", command(wire::commandOptimize, "", "", "crd0"), 0x04},
        {"upload to the absent card", command(wire::commandFile, "", "X", "crd0", 0, 1), 0x04},
        {"create a folder, not played", command(0x40, "DIR", "", "fls0"), 0x04},
    };
    std::filesystem::create_directory(directory / "storage/fls0/DIR");
    for (const Refused& refused : cases) {
        EXPECT_EQ(exchange(refused.command), refusal(refused.subtype)) << refused.name;
    }
    EXPECT_TRUE(fileExists(directory / "storage/fls0/HERE"));
    EXPECT_TRUE(violations().empty()) << reportText();
}

TEST_F(ProtocolTest, DeviceInformationIsTheBlockInEitherLength) {
    for (const bool longForm : {false, true}) {
        Calculator::Settings settings;
        settings.longInfo = longForm;
        settings.capacity = 2048 * 1024;
        start(settings);
        const Bytes answer = exchange(wire::frame(wire::typeCommand, wire::commandInfo));
        const Bytes block = DeviceInfo::block(settings.capacity, longForm);
        EXPECT_EQ(answer, wire::frameAsCalculator(wire::typeAck, wire::ackInfo, block));
        ASSERT_EQ(block.size(), longForm ? 188u : 164u);
        EXPECT_EQ(std::string(block.begin() + 32, block.begin() + 40), "00002048");
        EXPECT_EQ(std::string(block.begin() + 128, block.begin() + 132), "7.00");
        EXPECT_EQ(block[8 + 6], 0xFF) << "text fields are padded with 0xFF";
    }
    EXPECT_TRUE(violations().empty()) << reportText();
}

struct Sending {
    const char* name;
    Bytes request;
    std::vector<Bytes> expected; // after the role swap, acknowledged one by one
    bool listFolders;
};

TEST_F(ProtocolTest, FlowACommandsSendTheirPacketsThenHandTheRoleBack) {
    const std::string withEscapes = std::string(255, 'a') + "\\" + std::string("\x00\x1f", 2) + "z";
    file("fls0/BIG.BIN", withEscapes);
    file("fls0/EMPTY", "");
    file("fls0/B/INNER", "12345");
    file("fls0/A", "1");
    std::filesystem::create_directory(directory / "storage/fls0/C");
    const Sending cases[] = {
        {"a file in two parts, escaped as a calculator does",
         command(wire::commandSendMe, "", "BIG.BIN"),
         {described(wire::commandFile, 259, "", "BIG.BIN"), part(2, 1, withEscapes.substr(0, 256)),
          part(2, 2, withEscapes.substr(256)), roleSwap},
         false},
        {"an empty file has no part",
         command(wire::commandSendMe, "", "EMPTY"),
         {described(wire::commandFile, 0, "", "EMPTY"), roleSwap},
         false},
        {"a file in a folder",
         command(wire::commandSendMe, "B", "INNER"),
         {described(wire::commandFile, 5, "B", "INNER"), part(1, 1, "12345"), roleSwap},
         false},
        {"root files sorted, then each folder",
         command(wire::commandList, "", ""),
         {described(wire::commandEntry, 1, "", "A"),
          described(wire::commandEntry, 259, "", "BIG.BIN"),
          described(wire::commandEntry, 0, "", "EMPTY"),
          described(wire::commandEntry, 5, "B", "INNER"), roleSwap},
         false},
        {"folders as nameless entries",
         command(wire::commandList, "", ""),
         {described(wire::commandEntry, 1, "", "A"),
          described(wire::commandEntry, 259, "", "BIG.BIN"),
          described(wire::commandEntry, 0, "", "EMPTY"), described(wire::commandEntry, 0, "B", ""),
          described(wire::commandEntry, 5, "B", "INNER"), described(wire::commandEntry, 0, "C", ""),
          roleSwap},
         true},
        {"free space is the capacity less what is stored",
         command(wire::commandFree, "", ""),
         {described(wire::commandFreeAnswer, 10000 - 265, "", ""), roleSwap},
         false},
    };
    for (const Sending& sending : cases) {
        Calculator::Settings settings;
        settings.capacity = 10000;
        settings.listFolders = sending.listFolders;
        start(settings);
        EXPECT_EQ(receiveAll(sending.request), sending.expected) << sending.name;
    }
    EXPECT_TRUE(violations().empty()) << reportText();
}

TEST_F(ProtocolTest, AskedToResendTheCalculatorSendsTheSamePacketAgain) {
    file("fls0/F", "content");
    ASSERT_EQ(exchange(command(wire::commandSendMe, "", "F")), ack);
    const Bytes header = exchange(roleSwap);
    EXPECT_EQ(exchange(resend), header);
    EXPECT_EQ(exchange(ack), part(1, 1, "content"));
    EXPECT_EQ(exchange(resend), part(1, 1, "content"));
    EXPECT_EQ(exchange(ack), roleSwap);
    EXPECT_EQ(exchange(wire::frame(wire::typeTerminate, 0x00)), ack);
    EXPECT_TRUE(violations().empty()) << reportText();
}

struct Overwrite {
    const char* name;
    unsigned mode;
    Bytes firstAnswer;
    Bytes reply;       // after 15 02; empty for none
    Bytes replyAnswer; // what the reply gets
    std::string stored;
};

TEST_F(ProtocolTest, AnExistingFileIsReplacedAsTheModeAndTheHostSay) {
    const Bytes confirm = wire::acknowledgement(wire::ackOverwrite);
    const Bytes giveUp = wire::refusal(wire::refusedOverwrite);
    const Overwrite cases[] = {
        {"ask, then replace", 0, refusal(0x02), confirm, ack, "new"},
        {"ask, then give up", 0, refusal(0x02), giveUp, ack, "old"},
        {"stop asks like ask", 1, refusal(0x02), confirm, ack, "new"},
        {"replace without asking", 2, ack, {}, {}, "new"},
        {"ask, then the host moves on", 0, refusal(0x02), wire::frame(wire::typeCheck, 1), ack,
         "old"},
    };
    for (const Overwrite& overwrite : cases) {
        file("fls0/F", "old");
        start();
        EXPECT_EQ(exchange(command(wire::commandFile, "", "F", "fls0", overwrite.mode, 3, 5)),
                  overwrite.firstAnswer)
            << overwrite.name;
        if (!overwrite.reply.empty()) {
            EXPECT_EQ(exchange(overwrite.reply), overwrite.replyAnswer) << overwrite.name;
        }
        if (overwrite.stored == "new") {
            EXPECT_EQ(exchange(wire::frameAsHost(wire::typeData, wire::commandFile,
                                                 wire::partData(1, 1, bytes("new")))),
                      ack)
                << overwrite.name;
        }
        EXPECT_EQ(readFile(directory / "storage/fls0/F"), overwrite.stored) << overwrite.name;
    }
    EXPECT_TRUE(violations().empty()) << reportText();
}

TEST_F(ProtocolTest, UploadsAcceptBothEscapesOfTheEscapeByte) {
    const Bytes data = wire::partData(1, 1, bytes("x"));
    Bytes escaped(data.begin(), data.end());
    escaped.insert(escaped.end(), {0x5C, 0x5C, 0x5C, 0x7C, 0x5C, 0x3F});
    ASSERT_EQ(exchange(command(wire::commandFile, "", "E", "fls0", 0, 4)), ack);
    EXPECT_EQ(exchange(wire::frameRaw(wire::typeData, wire::commandFile, escaped)), ack);
    EXPECT_EQ(readFile(directory / "storage/fls0/E"), "x\\\\\x1f");
    EXPECT_TRUE(violations().empty()) << reportText();
}

enum class Moment { AfterAccept, InTurn };

struct TurnBreach {
    const char* name;
    Moment moment;
    Bytes sent;
    const char* reported; // empty: no violation
};

TEST_F(ProtocolTest, WhileTheCalculatorIsActiveTheHostOnlyAcknowledges) {
    file("fls0/F", std::string(600, 'f'));
    const TurnBreach cases[] = {
        {"a command in its turn", Moment::InTurn, command(wire::commandList, "", ""),
         "command 4D while the calculator is the active side"},
        {"a keep-alive in its turn", Moment::InTurn, wire::frame(wire::typeCheck, 1),
         "instead of an acknowledgement"},
        {"a role swap in its turn", Moment::InTurn, roleSwap,
         "role swap from the host while the calculator is the active side"},
        {"a command instead of the role swap", Moment::AfterAccept,
         command(wire::commandOptimize, "", ""), "where the role swap was due"},
        {"a terminate in its turn", Moment::InTurn, wire::frame(wire::typeTerminate, 0x00), ""},
        {"a terminate before the role swap", Moment::AfterAccept,
         wire::frame(wire::typeTerminate, 0x02), ""},
    };
    for (const TurnBreach& breach : cases) {
        start();
        ASSERT_EQ(exchange(command(wire::commandSendMe, "", "F")), ack);
        if (breach.moment == Moment::InTurn) {
            ASSERT_EQ(exchange(roleSwap), described(wire::commandFile, 600, "", "F"));
        }
        const size_t before = violations().size();
        exchange(breach.sent);
        const std::vector<std::string> lines = violations();
        if (std::string(breach.reported).empty()) {
            EXPECT_EQ(lines.size(), before) << breach.name << "\n" << reportText();
        } else {
            ASSERT_EQ(lines.size(), before + 1) << breach.name << "\n" << reportText();
            EXPECT_TRUE(contains(lines.back(), breach.reported)) << lines.back();
        }
    }
}

TEST_F(ProtocolTest, LeavingADownloadUnfinishedIsAViolationALeftListingIsNot) {
    file("fls0/F", "f");
    EXPECT_EQ(exchange(command(wire::commandList, "", "")), ack);
    EXPECT_EQ(exchange(roleSwap), described(wire::commandEntry, 1, "", "F"));
    calculator->hostGone();
    EXPECT_TRUE(violations().empty()) << reportText();
    EXPECT_TRUE(contains(reportText(), "left without the terminate while receiving"));

    start();
    EXPECT_EQ(exchange(command(wire::commandSendMe, "", "F")), ack);
    EXPECT_EQ(exchange(roleSwap), described(wire::commandFile, 1, "", "F"));
    calculator->hostGone();
    ASSERT_EQ(violations().size(), 1u) << reportText();
    EXPECT_TRUE(contains(violations()[0], "the data phase of 44 was left incomplete"));
}

struct Expected {
    Bytes packet;
    bool spoiled = false; // the packet with a wrong checksum
};

struct DownloadFault {
    const char* name;
    std::vector<Fault> faults;
    CalculatorTurn::FileFlaws flaws;
    std::vector<std::pair<Bytes, Expected>> exchanges; // after the 44 is accepted
    const char* reported;                              // empty: no violation
};

void expectAnswer(const Bytes& answer, const Expected& expected, const std::string& name) {
    if (!expected.spoiled) {
        EXPECT_EQ(answer, expected.packet) << name;
        return;
    }
    const Bytes& intact = expected.packet;
    ASSERT_EQ(answer.size(), intact.size()) << name;
    EXPECT_NE(answer, intact) << name;
    EXPECT_TRUE(std::equal(intact.begin(), intact.end() - 2, answer.begin())) << name;
}

TEST_F(ProtocolTest, DownloadFaultsAreSurvivableOrHeldAgainstTheHost) {
    file("fls0/F", std::string(300, 'd'));
    const Bytes header = described(wire::commandFile, 300, "", "F");
    const Bytes first = part(2, 1, std::string(256, 'd'));
    const Bytes second = part(2, 2, std::string(44, 'd'));
    const Expected misnumbered{part(2, 3, std::string(44, 'd'))};
    const Expected extra{part(2, 3, "d")};
    const Bytes refused = refusal(0x00);
    const DownloadFault cases[] = {
        {"a corrupt part asked again",
         {fault("--corrupt", "download:1")},
         {},
         {{roleSwap, {header}},
          {ack, {first, true}},
          {resend, {first}},
          {ack, {second}},
          {ack, {roleSwap}}},
         ""},
        {"a corrupt part acknowledged",
         {fault("--corrupt", "download:1")},
         {},
         {{roleSwap, {header}}, {ack, {first, true}}, {ack, {second}}},
         "sent with a wrong checksum"},
        {"a corrupt header asked again",
         {fault("--corrupt", "header")},
         {},
         {{roleSwap, {header, true}}, {resend, {header}}, {ack, {first}}},
         ""},
        {"a misnumbered part asked again",
         {fault("--misnumber", "download:2")},
         {},
         {{roleSwap, {header}},
          {ack, {first}},
          {ack, misnumbered},
          {resend, {second}},
          {ack, {roleSwap}}},
         ""},
        {"a misnumbered part acknowledged",
         {fault("--misnumber", "download:2")},
         {},
         {{roleSwap, {header}}, {ack, {first}}, {ack, misnumbered}, {ack, {roleSwap}}},
         ""},
        {"a part beyond the count refused",
         {},
         {std::nullopt, true},
         {{roleSwap, {header}},
          {ack, {first}},
          {ack, {second}},
          {ack, extra},
          {refused, {roleSwap}}},
         ""},
        {"a part beyond the count acknowledged",
         {},
         {std::nullopt, true},
         {{roleSwap, {header}}, {ack, {first}}, {ack, {second}}, {ack, extra}, {ack, {roleSwap}}},
         ""},
        {"a header announcing another size",
         {},
         {1000, false},
         {{roleSwap, {described(wire::commandFile, 1000, "", "F")}}, {ack, {first}}},
         ""},
    };
    for (const DownloadFault& download : cases) {
        Calculator::Settings settings;
        settings.fileFlaws = download.flaws;
        start(settings, download.faults);
        ASSERT_EQ(exchange(command(wire::commandSendMe, "", "F")), ack);
        for (const auto& [sent, expected] : download.exchanges) {
            expectAnswer(exchange(sent), expected, download.name);
        }
        const std::vector<std::string> lines = violations();
        if (std::string(download.reported).empty()) {
            EXPECT_TRUE(lines.empty()) << download.name << "\n" << reportText();
        } else {
            ASSERT_EQ(lines.size(), 1u) << download.name << "\n" << reportText();
            EXPECT_TRUE(contains(lines[0], download.reported)) << lines[0];
        }
        std::filesystem::remove(directory / "report");
    }
}

TEST_F(ProtocolTest, ASlowOptimizeAnswersOnlyAfterItsDelay) {
    Calculator::Settings settings;
    settings.optimizeDelay = std::chrono::milliseconds(150);
    start(settings);
    EXPECT_EQ(exchange(command(wire::commandOptimize, "", "")), Bytes{});
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_EQ(calculator->nextAnswer(64), ack);
    EXPECT_TRUE(violations().empty()) << reportText();
}

TEST(FaultOptionsTest, PlacesTheCalculatorSendsTakeOnlyTheirFaults) {
    EXPECT_EQ(parseFault("--corrupt", "download:3")->place, (FaultPlace{FaultPlace::Download, 3}));
    EXPECT_EQ(parseFault("--silent", "entry:2:4")->silentTransfers, 4u);
    EXPECT_EQ(parseFault("--refuse", "command:4D:04")->place,
              (FaultPlace{FaultPlace::Command, 0x4D}));
    EXPECT_EQ(parseFault("--refuse", "command:45")->place, (FaultPlace{FaultPlace::Request, 0}));
    for (const auto& [option, value] :
         std::vector<std::pair<std::string, std::string>>{{"--refuse", "download:1"},
                                                          {"--short", "header:2"},
                                                          {"--misnumber", "part:2"},
                                                          {"--misnumber", "entry:1"},
                                                          {"--corrupt", "command:4"},
                                                          {"--corrupt", "download:0"}}) {
        EXPECT_FALSE(parseFault(option, value)) << option << " " << value;
    }
}

} // namespace
