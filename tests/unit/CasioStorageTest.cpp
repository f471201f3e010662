// The storage commands, and the main-memory commands beside them, over the libusb double,
// against a calculator scripted with the virtual calculator's wire module: what the host puts
// on the wire, what reaches the caller, and how every answer that makes no sense ends.

#include "CasioStorage.h"
#include "CalcConnector.h"
#include "CasioCalcTurn.h"
#include "CasioCommandHeader.h"
#include "CasioMainMemory.h"
#include "CasioProtocolTools.h"
#include "LibusbDouble.h"
#include "LinkInterrupt.h"
#include "LinkOverDouble.h"
#include "Log.h"
#include "StdoutCapture.h"
#include "UsbContext.h"
#include "Wire.h"

#include <functional>
#include <gtest/gtest.h>
#include <map>
#include <string>
#include <thread>
#include <vector>

namespace {

using LibusbDouble::Bytes;

// Every byte value, and the escape byte often.
Bytes awkwardBytes(size_t size) {
    Bytes bytes(size);
    for (size_t i = 0; i < size; ++i) {
        bytes[i] = i % 3 == 0 ? wire::escapeByte : static_cast<uint8_t>(i * 7);
    }
    return bytes;
}

Bytes calculatorCommand(uint8_t code, const wire::CommandData& data) {
    return wire::frameAsCalculator(wire::typeCommand, code, wire::commandData(data));
}

Bytes calculatorPart(uint32_t count, uint32_t number, const Bytes& bytes,
                     uint8_t code = wire::commandFile) {
    return wire::frameAsCalculator(wire::typeData, code, wire::partData(count, number, bytes));
}

// `command`, then the data parts of command `code` that carry `file` in parts of 256 bytes.
std::vector<Bytes> withParts(Bytes command, const Bytes& file, uint8_t code) {
    std::vector<Bytes> turn = {std::move(command)};
    const uint32_t count = static_cast<uint32_t>((file.size() + 255) / 256);
    for (uint32_t part = 0; part < count; ++part) {
        const size_t begin = part * 256;
        const size_t end = std::min(file.size(), begin + 256);
        turn.push_back(
            calculatorPart(count, part + 1, Bytes(file.begin() + begin, file.begin() + end), code));
    }
    return turn;
}

// The packets of a calculator's turn that sends `file`.
std::vector<Bytes> fileTurn(const Bytes& file, const std::string& name = "A.BIN") {
    return withParts(calculatorCommand(wire::commandFile, {0, 0, static_cast<uint32_t>(file.size()),
                                                           "", name, "fls0"}),
                     file, wire::commandFile);
}

Bytes damaged(Bytes packet) {
    packet.back() = packet.back() == '0' ? '1' : '0';
    return packet;
}

// A calculator played over the double: it answers each command with `commandAnswer` and,
// once the host hands it the link, sends the packets of `turn` one per acknowledgement,
// sending a packet again when asked, then swaps the roles back.
class ScriptedStorage {
public:
    ScriptedStorage(Bytes commandAnswer, std::vector<Bytes> turn)
        : commandAnswer(std::move(commandAnswer)), turn(std::move(turn)) {
        LibusbDouble::setResponder([this](const Bytes& sent) { answer(sent); });
    }

    // Packet `index` of the turn goes out damaged this many times before it goes out intact.
    void damage(size_t index, int times) { damagedCopies[index] = times; }

    int acknowledgements = 0;
    int resendRequests = 0;
    int terminations = 0;

private:
    void answer(const Bytes& sent) {
        if (sent.empty()) {
            return;
        }
        switch (sent[0]) {
        case wire::typeCommand:
            reply(commandAnswer);
            break;
        case wire::typeRoleSwap:
            sendNext();
            break;
        case wire::typeAck:
            ++acknowledgements;
            ++next;
            sendNext();
            break;
        case wire::typeRefusal:
            ++resendRequests;
            sendNext();
            break;
        case wire::typeTerminate:
            ++terminations;
            reply(wire::acknowledgement());
            break;
        default:
            break;
        }
    }

    void sendNext() {
        if (next >= turn.size()) {
            reply(wire::frame(wire::typeRoleSwap, 0x00));
        } else if (damagedCopies[next] > 0) {
            --damagedCopies[next];
            reply(damaged(turn[next]));
        } else {
            reply(turn[next]);
        }
    }

    static void reply(const Bytes& packet) { LibusbDouble::queueIn({packet, 0}); }

    Bytes commandAnswer;
    std::vector<Bytes> turn;
    std::map<size_t, int> damagedCopies;
    size_t next = 0;
};

// Keeps what arrives, and can be told to fail or to interrupt at a given call.
class CollectingSink : public CasioFileSink {
public:
    void fileAnnounced(uint32_t size) override { announced = static_cast<long>(size); }
    bool fileBytes(const Buffer& bytes) override {
        ++calls;
        if (calls == interruptAt) {
            LinkInterrupt::request();
        }
        kept.insert(kept.end(), bytes.getData(), bytes.getData() + bytes.getSize());
        return calls == failAt;
    }

    long announced = -1;
    Bytes kept;
    int calls = 0;
    int failAt = 0;
    int interruptAt = 0;
};

class CollectingLister : public CasioFileLister {
public:
    void fileListed(const CasioFileEntry& entry) override {
        const auto text = [](const Buffer& view) {
            return std::string(reinterpret_cast<const char*>(view.getData()), view.getSize());
        };
        const std::string folder = text(entry.folder);
        lines.push_back(std::to_string(entry.size) + " " + (folder.empty() ? "" : folder + "/") +
                        text(entry.name));
    }

    std::vector<std::string> lines;
};

class StorageTest : public LinkOverDouble {
protected:
    void SetUp() override {
        LinkInterrupt::clear();
        LinkOverDouble::SetUp();
    }
    void TearDown() override { LinkInterrupt::clear(); }

    bool fetch(ScriptedStorage&, CollectingSink* sink, int* refusal = nullptr) {
        StdoutCapture capture;
        const bool failed = CasioStorage::fetchFile(&socket, "", "A.BIN", "fls0", sink, refusal);
        printed = capture.finish();
        return failed;
    }

    std::string printed;
};

TEST_F(StorageTest, AFetchedFileArrivesWholeAPartAtATimeAndEveryPacketIsAcknowledged) {
    const Bytes file = awkwardBytes(600);
    ScriptedStorage calculator(wire::acknowledgement(), fileTurn(file));
    CollectingSink sink;
    ASSERT_FALSE(fetch(calculator, &sink)) << printed;
    EXPECT_EQ(sink.announced, 600);
    EXPECT_EQ(sink.kept, file);
    EXPECT_EQ(sink.calls, 3);

    Bytes expected = wire::frameAsHost(wire::typeCommand, wire::commandSendMe,
                                       wire::commandData({0, 0, 0, "", "A.BIN", "fls0"}));
    const Bytes roleSwap = wire::frame(wire::typeRoleSwap, 0x00);
    expected.insert(expected.end(), roleSwap.begin(), roleSwap.end());
    for (int i = 0; i < 4; ++i) {
        const Bytes ack = wire::acknowledgement();
        expected.insert(expected.end(), ack.begin(), ack.end());
    }
    EXPECT_EQ(LibusbDouble::bytesSent(), expected);
}

TEST_F(StorageTest, AnEmptyFileArrivesWithoutParts) {
    ScriptedStorage calculator(wire::acknowledgement(), fileTurn({}));
    CollectingSink sink;
    EXPECT_FALSE(fetch(calculator, &sink)) << printed;
    EXPECT_EQ(sink.announced, 0);
    EXPECT_EQ(sink.calls, 0);
}

// Whatever is wrong with the file, the turn is seen to its end, so that the link can go on.
TEST_F(StorageTest, AFileThatDoesNotArriveWholeAndInOrderFailsAfterTheTurn) {
    const Bytes file = awkwardBytes(600);
    const std::vector<Bytes> whole = fileTurn(file);
    const auto part = [&](uint32_t count, uint32_t number, size_t size) {
        return calculatorPart(count, number, Bytes(file.begin(), file.begin() + size));
    };
    const struct {
        const char* name;
        std::vector<Bytes> turn;
        std::string error;
    } cases[] = {
        {"parts out of order", {whole[0], whole[1], whole[3], whole[2]}, "out of order"},
        {"a part beyond the count",
         {whole[0], whole[1], whole[2], whole[3], part(3, 4, 1)},
         "more parts than it announced"},
        {"a part with another count",
         {whole[0], whole[1], part(4, 2, 256)},
         "more parts than it announced"},
        {"a part missing", {whole[0], whole[1], whole[2]}, "less of the file"},
        {"more bytes than announced",
         {whole[0], whole[1], whole[2], part(3, 3, 100)},
         "more of the file"},
        {"no announcement", {whole[1], whole[2], whole[3]}, "unexpected packet"},
        {"another command", {calculatorCommand(wire::commandEntry, {})}, "unexpected packet"},
    };
    for (const auto& scenario : cases) {
        LibusbDouble::clearTransfers();
        ScriptedStorage calculator(wire::acknowledgement(), scenario.turn);
        CollectingSink sink;
        EXPECT_TRUE(fetch(calculator, &sink)) << scenario.name;
        EXPECT_NE(printed.find(scenario.error), std::string::npos) << scenario.name << printed;
        EXPECT_EQ(calculator.acknowledgements, static_cast<int>(scenario.turn.size()))
            << scenario.name;
        // Nothing past the problem reaches the sink.
        EXPECT_TRUE(sink.kept.size() <= file.size() &&
                    std::equal(sink.kept.begin(), sink.kept.end(), file.begin()))
            << scenario.name;
    }
}

TEST_F(StorageTest, ADamagedPacketIsAskedForAgainABoundedNumberOfTimes) {
    const Bytes file = awkwardBytes(600);
    {
        ScriptedStorage calculator(wire::acknowledgement(), fileTurn(file));
        calculator.damage(2, 1);
        CollectingSink sink;
        EXPECT_FALSE(fetch(calculator, &sink)) << printed;
        EXPECT_EQ(calculator.resendRequests, 1);
        EXPECT_EQ(sink.kept, file);
    }
    LibusbDouble::clearScript();
    ScriptedStorage calculator(wire::acknowledgement(), fileTurn(file));
    calculator.damage(2, 100);
    CollectingSink sink;
    EXPECT_TRUE(fetch(calculator, &sink));
    EXPECT_EQ(calculator.resendRequests, CasioCalcTurn::maxResendRequests);
    EXPECT_NE(printed.find("keeps sending damaged packets"), std::string::npos) << printed;
}

TEST_F(StorageTest, ARefusedCommandHandsBackTheRefusalAndNoTurnFollows) {
    ScriptedStorage calculator(wire::refusal(wire::refusedError), fileTurn(awkwardBytes(10)));
    CollectingSink sink;
    int refusal = 0;
    EXPECT_TRUE(fetch(calculator, &sink, &refusal));
    EXPECT_EQ(refusal, CasioProtocolTools::subtypeGenericError);
    EXPECT_EQ(sink.announced, -1);
    EXPECT_EQ(LibusbDouble::outTransferCount(), 1) << "no role swap after a refusal";

    ScriptedStorage accepting(wire::acknowledgement(), fileTurn(awkwardBytes(10)));
    EXPECT_FALSE(fetch(accepting, &sink, &refusal));
    EXPECT_EQ(refusal, CasioStorage::notRefused);
}

// The sink sees nothing more once it could not keep bytes, or once the program is
// interrupted; an interrupted turn is left for the program to terminate.
TEST_F(StorageTest, ASinkThatFailsOrAnInterruptStopsTheFile) {
    const Bytes file = awkwardBytes(1000);
    {
        ScriptedStorage calculator(wire::acknowledgement(), fileTurn(file));
        CollectingSink sink;
        sink.failAt = 2;
        EXPECT_TRUE(fetch(calculator, &sink));
        EXPECT_EQ(sink.calls, 2);
        EXPECT_EQ(calculator.acknowledgements, 2) << "nothing more is asked for";
        EXPECT_EQ(calculator.terminations, 1) << "the turn ends at once";
        EXPECT_TRUE(socket.isTerminated());
    }
    LibusbDouble::clearScript();
    connectAgain();
    ScriptedStorage calculator(wire::acknowledgement(), fileTurn(file));
    CollectingSink sink;
    sink.interruptAt = 2;
    EXPECT_TRUE(fetch(calculator, &sink));
    EXPECT_EQ(sink.calls, 2);
    EXPECT_EQ(calculator.acknowledgements, 3);
}

TEST_F(StorageTest, ListingHandsOverEveryFileInOrderAndSkipsFolders) {
    ScriptedStorage calculator(
        wire::acknowledgement(),
        {calculatorCommand(wire::commandEntry, {0, 0, 1234, "", "GAME.G1A", "fls0"}),
         calculatorCommand(wire::commandEntry, {0, 0, 0, "NOTES", "", "fls0"}),
         calculatorCommand(wire::commandEntry, {0, 0, 7, "NOTES", "A\\B.TXT", "fls0"})});
    CollectingLister lister;
    ASSERT_FALSE(CasioStorage::listFiles(&socket, "fls0", &lister));
    EXPECT_EQ(lister.lines, (std::vector<std::string>{"1234 GAME.G1A", "7 NOTES/A\\B.TXT"}));
    EXPECT_EQ(calculator.acknowledgements, 3);
}

TEST_F(StorageTest, FreeSpaceIsTheSizeOfTheCalculatorsAnswer) {
    ScriptedStorage calculator(
        wire::acknowledgement(),
        {calculatorCommand(wire::commandFreeAnswer, {0, 0, 0xFEDCBA98, "", "", "crd0"})});
    uint32_t freeBytes = 0;
    ASSERT_FALSE(CasioStorage::freeSpace(&socket, "crd0", &freeBytes));
    EXPECT_EQ(freeBytes, 0xFEDCBA98u);

    LibusbDouble::clearScript();
    ScriptedStorage silentAboutIt(wire::acknowledgement(), {});
    StdoutCapture capture;
    EXPECT_TRUE(CasioStorage::freeSpace(&socket, "crd0", &freeBytes));
    EXPECT_NE(capture.finish().find("did not tell its free space"), std::string::npos);
}

void put(Bytes* block, size_t offset, const std::string& text) {
    std::copy(text.begin(), text.end(), block->begin() + offset);
}

TEST_F(StorageTest, DeviceInformationIsReadFromTheAcknowledgement) {
    Bytes block(164, 0xFF);
    const auto put = [&](size_t offset, const std::string& text) { ::put(&block, offset, text); };
    put(0, "Gy363007");
    put(8, "SH7305");
    put(32, "00004096");
    put(40, "512");
    put(64, "01.00.0000");
    put(96, "02.05.2201");
    put(128, "7.00");
    put(132, std::string("LY755AX\0\0", 9));
    put(148, "Ada  ");
    ScriptedStorage calculator(wire::frameAsCalculator(wire::typeAck, wire::ackInfo, block), {});
    CasioDeviceInfo info{};
    ASSERT_FALSE(CasioStorage::readDeviceInfo(&socket, &info));
    EXPECT_STREQ(info.hardwareId, "Gy363007");
    EXPECT_STREQ(info.processor, "SH7305");
    EXPECT_STREQ(info.osVersion, "02.05.2201");
    EXPECT_STREQ(info.bootVersion, "01.00.0000");
    EXPECT_STREQ(info.protocolVersion, "7.00");
    EXPECT_STREQ(info.productId, "LY755AX");
    EXPECT_STREQ(info.userName, "Ada");
    EXPECT_EQ(info.flashKiB, 4096);
    EXPECT_EQ(info.ramKiB, 512);
    EXPECT_EQ(LibusbDouble::bytesSent(), wire::frame(wire::typeCommand, wire::commandInfo));
}

TEST_F(StorageTest, DeviceInformationBlocksAreReadByTheirLength) {
    const auto blockWith = [](size_t size, const std::string& at148) {
        Bytes block(size, 0xFF);
        std::copy(at148.begin(), at148.end(), block.begin() + 148);
        block[0] = 0x1B; // a terminal would act on it
        return block;
    };
    const struct {
        Bytes block;
        bool failed;
        const char* userName;
    } cases[] = {
        {blockWith(163, "Ada"), true, ""},
        {blockWith(164, "Ada Lovelace Byr"), false, "Ada Lovelace Byr"},
        {blockWith(188, "Ada Lovelace Byron 1"), false, "Ada Lovelace Byron 1"},
    };
    for (const auto& scenario : cases) {
        Bytes block = scenario.block;
        Buffer view(block.data(), static_cast<int>(block.size()));
        CasioDeviceInfo info{};
        EXPECT_EQ(CasioDeviceInfo::read(&view, &info), scenario.failed) << block.size();
        if (!scenario.failed) {
            EXPECT_STREQ(info.userName, scenario.userName);
            EXPECT_STREQ(info.hardwareId, "?");
            EXPECT_EQ(info.flashKiB, -1) << "0xFF padding is no number";
        }
    }
}

TEST_F(StorageTest, PlainCommandsAreAcknowledgedOrRefused) {
    const std::function<bool(int*)> commands[] = {
        [&](int* refusal) {
            return CasioStorage::deleteFile(&socket, "F", "A.BIN", "fls0", refusal);
        },
        [&](int* refusal) { return CasioStorage::optimize(&socket, "fls0", refusal); },
    };
    const Bytes sent[] = {
        wire::frameAsHost(wire::typeCommand, wire::commandDelete,
                          wire::commandData({0, 0, 0, "F", "A.BIN", "fls0"})),
        wire::frameAsHost(wire::typeCommand, wire::commandOptimize,
                          wire::commandData({0, 0, 0, "", "", "fls0"})),
    };
    for (size_t i = 0; i < 2; ++i) {
        LibusbDouble::clearTransfers();
        LibusbDouble::clearScript();
        ScriptedStorage acknowledging(wire::acknowledgement(), {});
        int refusal = 0;
        EXPECT_FALSE(commands[i](&refusal));
        EXPECT_EQ(LibusbDouble::bytesSent(), sent[i]);

        LibusbDouble::clearScript();
        ScriptedStorage refusing(wire::refusal(wire::refusedError), {});
        StdoutCapture capture;
        EXPECT_TRUE(commands[i](&refusal));
        capture.finish();
        EXPECT_EQ(refusal, wire::refusedError);
    }
}

// Compacting may keep a calculator quiet far beyond the usual ten seconds.
TEST_F(StorageTest, OptimizingIsWaitedForLongerThanOtherCommands) {
    const auto slowAcknowledgement = [] {
        LibusbDouble::clearScript();
        for (int i = 0; i < 30; ++i) {
            LibusbDouble::queueIn({{}, LIBUSB_ERROR_TIMEOUT});
        }
        LibusbDouble::queueIn({wire::acknowledgement(), 0});
    };
    slowAcknowledgement();
    StdoutCapture capture;
    EXPECT_TRUE(CasioStorage::deleteFile(&socket, "", "A.BIN", "fls0"));
    slowAcknowledgement();
    EXPECT_FALSE(CasioStorage::optimize(&socket, "fls0"));
    // Twelve seconds of silence are too many again for the next command.
    LibusbDouble::clearScript();
    for (int i = 0; i < 6; ++i) {
        LibusbDouble::queueIn({{}, LIBUSB_ERROR_TIMEOUT});
    }
    LibusbDouble::queueIn({wire::acknowledgement(), 0});
    EXPECT_TRUE(CasioStorage::deleteFile(&socket, "", "A.BIN", "fls0"))
        << "the usual patience is back";
    capture.finish();
}

TEST_F(StorageTest, TheLinkEndsWithATerminateThatIsAcknowledged) {
    ScriptedStorage calculator(wire::acknowledgement(), {});
    EXPECT_FALSE(
        CasioProtocolTools::terminateProtocol(&socket, CasioProtocolTools::terminateNormal));
    EXPECT_EQ(LibusbDouble::bytesSent(), wire::frame(wire::typeTerminate, 0x00));

    LibusbDouble::clearScript();
    StdoutCapture capture;
    EXPECT_TRUE(
        CasioProtocolTools::terminateProtocol(&socket, CasioProtocolTools::terminateUserAsked));
    EXPECT_NE(capture.finish().find("did not acknowledge the end of the link"), std::string::npos);
}

// Two links at once, each over a bus of its own in a thread of its own: what one calculator
// answers reaches its own caller only, whatever the other does meanwhile.
TEST(ConcurrentLinks, EachOfTwoLinksInTwoThreadsGetsItsOwnAnswers) {
    const auto session = [](const std::string& hardwareId, const Bytes& file,
                            std::string* problem) {
        LibusbDouble::reset();
        LibusbDouble::addDevice(CalcConnector::calcVendorId, CalcConnector::calcProductId);
        UsbContext context;
        context.initUsbContext();
        Socket socket;
        socket.setDeviceHandle(CalcConnector::connect(&context));
        Bytes block(164, 0xFF);
        put(&block, 0, hardwareId);
        for (int round = 0; round < 300 && problem->empty(); ++round) {
            LibusbDouble::clearScript();
            ScriptedStorage informing(wire::frameAsCalculator(wire::typeAck, wire::ackInfo, block),
                                      {});
            CasioDeviceInfo info{};
            if (CasioStorage::readDeviceInfo(&socket, &info) || info.hardwareId != hardwareId) {
                *problem = "round " + std::to_string(round) + ": information of " + info.hardwareId;
            }
            LibusbDouble::clearScript();
            ScriptedStorage sending(wire::acknowledgement(), fileTurn(file));
            CollectingSink sink;
            if (CasioStorage::fetchFile(&socket, "", "A.BIN", "fls0", &sink) || sink.kept != file) {
                *problem = "round " + std::to_string(round) + ": another file";
            }
        }
    };
    Log::setLoglevel(-1);
    std::string problems[2];
    std::thread first(session, "Gy363007", awkwardBytes(700), &problems[0]);
    std::thread second(session, "Gy362000", awkwardBytes(300), &problems[1]);
    first.join();
    second.join();
    EXPECT_EQ(problems[0], "");
    EXPECT_EQ(problems[1], "");
}

std::string text(const Buffer& view) {
    return std::string(reinterpret_cast<const char*>(view.getData()), view.getSize());
}

// What reaches the caller of a main-memory command: a line per item listed or announced, to
// which each part adds its size and the item's end a dot.
class CollectingItems : public CasioItemLister, public CasioItemSink {
public:
    void itemListed(const CasioMemoryItem& item) override {
        lines.push_back(wire::hexDump({item.type}) + " " + std::to_string(item.size) + " " +
                        text(item.directory) + "/" + text(item.name) + " " + text(item.group));
    }
    bool itemAnnounced(const CasioMemoryItem& item) override {
        itemListed(item);
        lines.back().insert(0, "+");
        return false;
    }
    bool itemBytes(const Buffer& bytes) override {
        lines.back() += " " + std::to_string(bytes.getSize());
        return false;
    }
    bool itemComplete() override {
        lines.back() += " .";
        return false;
    }

    std::vector<std::string> lines;
};

Bytes itemCommand(uint8_t code, uint32_t type, uint32_t size, const std::string& directory,
                  const std::string& name, const std::string& group) {
    return wire::frameAsCalculator(wire::typeCommand, code,
                                   wire::itemData({0, type, size, directory, name, group}));
}

// The packets of a calculator's turn that sends the item `bytes`.
std::vector<Bytes> itemTurn(const std::string& name, const Bytes& bytes, uint32_t type = 1) {
    return withParts(itemCommand(wire::commandItem, type, static_cast<uint32_t>(bytes.size()),
                                 "system", name, "PROGRAM"),
                     bytes, wire::commandItem);
}

Bytes hostCommand(uint8_t code, const wire::ItemData& item) {
    return wire::frameAsHost(wire::typeCommand, code, wire::itemData(item));
}

// Every main-memory command the calculator answers in its turn: what goes on the wire, what
// reaches the caller, and how a turn that is wrong ends.
TEST_F(StorageTest, MainMemoryTurnsReachTheCallerAnItemAtATime) {
    const CasioMemoryItem asked = CasioMainMemory::naming(0x01, "system", "GAME", "PROGRAM");
    std::vector<Bytes> both = itemTurn("GAME", awkwardBytes(300));
    const std::vector<Bytes> picture = itemTurn("PICT1", awkwardBytes(2048), 7);
    both.insert(both.end(), picture.begin(), picture.end());
    CollectingItems items;
    uint32_t freeBytes = 0;
    CasioMemoryItem picture3 = CasioMainMemory::naming(0x07, "main", "PICT3", "PICTURE 3");
    picture3.size = 2048;
    const auto run = [&](uint8_t code) {
        return code == wire::commandDeleteItem   ? CasioMainMemory::deleteItem(&socket, picture3)
               : code == wire::commandListItems  ? CasioMainMemory::listItems(&socket, &items)
               : code == wire::commandFreeMemory ? CasioMainMemory::freeMemory(&socket, &freeBytes)
               : code == wire::commandSendMeItem
                   ? CasioMainMemory::fetchItem(&socket, asked, &items)
                   : CasioMainMemory::fetchEveryItem(&socket, &items);
    };
    const std::string game = "+01 300 system/GAME PROGRAM 256 44 .";
    const struct {
        uint8_t code;
        std::vector<Bytes> turn;
        std::vector<std::string> lines;
        const char* error; // null: it succeeds
    } cases[] = {
        {wire::commandListItems,
         {itemCommand(wire::commandItemEntry, 1, 300, "system", "GAME", "PROGRAM"),
          itemCommand(wire::commandItemEntry, 0, 0, "main", "", ""),
          itemCommand(wire::commandItemEntry, 7, 2048, "main", "PICT1", "PICTURE 1")},
         {"01 300 system/GAME PROGRAM", "07 2048 main/PICT1 PICTURE 1"},
         nullptr},
        {wire::commandFreeMemory,
         {itemCommand(wire::commandFreeMemoryAnswer, 0, 61000, "", "", "")},
         {},
         nullptr},
        {wire::commandSendMeItem, itemTurn("GAME", awkwardBytes(300)), {game}, nullptr},
        {wire::commandSendMeAll,
         both,
         {game, "+07 2048 system/PICT1 PROGRAM 256 256 256 256 256 256 256 256 ."},
         nullptr},
        {wire::commandSendMeAll, itemTurn("EMPTY", {}), {"+01 0 system/EMPTY PROGRAM ."}, nullptr},
        {wire::commandSendMeItem, itemTurn("OTHER", awkwardBytes(300)), {}, "another item than"},
        {wire::commandSendMeItem, both, {game}, "unexpected packet with an item"},
        {wire::commandSendMeAll,
         {both[0], both[1], both[3]},
         {"+01 300 system/GAME PROGRAM 256"},
         "less of an item"},
        {wire::commandDeleteItem, {}, {}, nullptr}, // by its four names and its size
    };
    for (const auto& scenario : cases) {
        LibusbDouble::clearTransfers();
        LibusbDouble::clearScript();
        ScriptedStorage calculator(wire::acknowledgement(), scenario.turn);
        items = CollectingItems();
        StdoutCapture capture;
        EXPECT_EQ(run(scenario.code), scenario.error != nullptr) << scenario.lines.size();
        printed = capture.finish();
        EXPECT_NE(printed.find(scenario.error ? scenario.error : ""), std::string::npos) << printed;
        EXPECT_EQ(items.lines, scenario.lines);
        EXPECT_EQ(calculator.acknowledgements, static_cast<int>(scenario.turn.size()))
            << "the turn is seen to its end";
        const wire::ItemData named = scenario.code == wire::commandSendMeItem
                                         ? wire::ItemData{0, 1, 0, "system", "GAME", "PROGRAM"}
                                     : scenario.code == wire::commandDeleteItem
                                         ? wire::ItemData{0, 7, 2048, "main", "PICT3", "PICTURE 3"}
                                         : wire::ItemData{};
        const Bytes command = hostCommand(scenario.code, named);
        const Bytes sent = LibusbDouble::bytesSent();
        EXPECT_EQ(Bytes(sent.begin(), sent.begin() + std::min(sent.size(), command.size())),
                  command);
    }
    EXPECT_EQ(freeBytes, 61000u);
}

TEST(CasioCommandHeader, BuildsTheLayoutTheCalculatorReadsAndReadsItBack) {
    CasioStorageCommand command = CasioCommandHeader::naming("FOLDER", "GAME.G1A", "crd0");
    command.overwriteMode = CasioCommandHeader::modeOverwrite;
    command.size = 0x12345;
    unsigned char area[CasioCommandHeader::maxDataSize];
    Buffer data(area, sizeof area);
    ASSERT_FALSE(CasioCommandHeader::build(command, &data));
    const Bytes built(area, area + data.getSize());
    EXPECT_EQ(built, wire::commandData({2, 0, 0x12345, "FOLDER", "GAME.G1A", "crd0"}));

    CasioStorageCommand read{};
    ASSERT_FALSE(CasioCommandHeader::read(&data, &read));
    EXPECT_EQ(read.size, 0x12345u);
    EXPECT_EQ(read.overwriteMode, 2);
    const Buffer& name = read.fields[CasioCommandHeader::nameField];
    EXPECT_EQ(std::string(reinterpret_cast<char*>(name.getData()), name.getSize()), "GAME.G1A");

    const std::string tooLong(256, 'N');
    command = CasioCommandHeader::naming("", tooLong.c_str(), "fls0");
    StdoutCapture capture;
    EXPECT_TRUE(CasioCommandHeader::build(command, &data));
    capture.finish();
}

TEST(CasioCommandHeader, RefusesDataShorterThanWhatItAnnounces) {
    const Bytes good = wire::commandData({0, 0, 5, "F", "NAME", "fls0"});
    for (size_t size : {size_t(0), size_t(23), size_t(24), good.size() - 1}) {
        Bytes cut(good.begin(), good.begin() + size);
        Buffer view(cut.data(), static_cast<int>(cut.size()));
        CasioStorageCommand command{};
        EXPECT_TRUE(CasioCommandHeader::read(&view, &command)) << size;
    }
}

} // namespace
