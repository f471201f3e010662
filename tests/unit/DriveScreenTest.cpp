// A drive calculator's screen commands: the poll's answer, the verdicts of status and sense,
// and the source over a scripted SCSI device on the virtual clock: what it asks for, how it
// paces its polls, and how it ends.

#include "CasioDriveScreenSource.h"
#include "LibusbDouble.h"
#include "LinkInterrupt.h"
#include "LinkLimits.h"
#include "ScsiDouble.h"

#include <cerrno>
#include <gtest/gtest.h>

namespace {

using ScsiDouble::Answer;
using ScsiDouble::Bytes;
using V = CasioDriveVerdict;

const Bytes illegalRequest = {0x70, 0, 0x05, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0x20, 0};
const Bytes noMedium = {0x70, 0, 0x02, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0x3A, 0};

TEST(DriveScreenProtocol, PollAnswersOfferWhatTheySayAndNothingElseIsAnOffer) {
    Bytes reserved = ScsiDouble::offer(7, 3);
    reserved[15] = 0xEE;
    const std::vector<std::tuple<Bytes, int, bool, int, int>> table = {
        {ScsiDouble::offer(300), 16, false, 300, 0},
        {ScsiDouble::offer(0xFFFF, 0xABCD), 16, false, 0xFFFF, 0xABCD},
        {reserved, 16, false, 7, 3},
        {ScsiDouble::offer(300), 15, true, 0, 0},
        {Bytes(16, 0), 16, true, 0, 0},
    };
    for (const auto& [answer, size, fails, available, activity] : table) {
        CasioScreenOffer offer{0, 0};
        EXPECT_EQ(CasioDriveScreen::readOffer(answer.data(), size, &offer), fails);
        EXPECT_TRUE(offer.available == available && offer.activity == activity) << size;
    }
}

TEST(DriveScreenProtocol, StatusAndSenseGiveTheVerdict) {
    unsigned char sense[CasioDriveScreen::senseCapacity] = {};
    const Bytes descriptorRefusal = {0x72, 0x05, 0x20, 0x00};
    // error, host, driver, status, sense bytes, sense size written, verdict
    const std::vector<std::tuple<int, int, int, int, Bytes, int, V>> table = {
        {0, 0, 0, 0x00, {}, 0, V::done},
        {0, 0, 0, 0x02, illegalRequest, 14, V::refused},
        {0, 0, 0, 0x02, descriptorRefusal, 4, V::refused},
        {0, 0, 0, 0x02, illegalRequest, 2, V::again},  // the key was not written
        {0, 0, 0, 0x02, {0x70, 0, 0x06}, 3, V::again}, // unit attention
        {0, 0, 0, 0x02, {}, 0, V::again},
        {0, 0, 0, 0x08, {}, 0, V::again}, // busy
        {ENODEV, 0, 0, 0, {}, 0, V::gone},
        {EACCES, 0, 0, 0, {}, 0, V::forbidden},
        {EPERM, 0, 0, 0, {}, 0, V::forbidden},
        {EIO, 0, 0, 0, {}, 0, V::again},
        {0, 0x01, 0, 0, {}, 0, V::gone},
        {0, 0x03, 0, 0, {}, 0, V::silent},
        {0, 0, 0x06, 0, {}, 0, V::silent},
        {0, 0x07, 0, 0x00, {}, 0, V::again},
    };
    for (const auto& [error, host, driver, status, bytes, written, verdict] : table) {
        std::copy(bytes.begin(), bytes.end(), sense);
        ScsiCommand command;
        command.sense = sense;
        command.senseCapacity = sizeof sense;
        command.error = error;
        command.hostStatus = host;
        command.driverStatus = driver;
        command.status = status;
        command.senseSize = written;
        EXPECT_EQ(CasioDriveScreen::judge(command), verdict) << error << host << driver << status;
    }
}

class DriveScreenSourceTest : public ::testing::Test {
protected:
    void SetUp() override {
        LibusbDouble::reset();
        ScsiDouble::reset({ScsiDouble::offer(0)});
    }
    void TearDown() override { LinkInterrupt::clear(); }

    // Opened, with TEST UNIT READY answered `medium`; what was sent is then forgotten.
    void open(const Answer& medium = {}) {
        ScsiDouble::script({medium});
        ASSERT_FALSE(source.open("/dev/sg1"));
        sentAtOpen = ScsiDouble::sent().size();
    }
    std::vector<ScsiDouble::Sent> sent() const {
        const auto& all = ScsiDouble::sent();
        return {all.begin() + static_cast<long>(sentAtOpen), all.end()};
    }
    // One receive into `room` bytes: whether it ended the source, and the bytes.
    std::pair<bool, Bytes> receive(int room = 65536) {
        Bytes bytes(static_cast<size_t>(room));
        Buffer buffer(bytes.data(), room);
        const bool ended = source.receive(&buffer);
        bytes.resize(static_cast<size_t>(buffer.getSize()));
        return {ended, bytes};
    }

    CasioDriveScreenSource source;
    size_t sentAtOpen = 0;
};

// Each read asks for what the poll offered, at most the room, and comes right after it.
TEST_F(DriveScreenSourceTest, ReadsWhatIsOfferedAndNoMore) {
    open();
    const Bytes bytes = {1, 2, 3, 4, 5};
    ScsiDouble::script(
        {{ScsiDouble::offer(5, 9)}, {bytes}, {ScsiDouble::offer(0x1234, 0xBEEF)}, {{6, 7}}});
    EXPECT_EQ(receive(), std::make_pair(false, bytes));
    EXPECT_EQ(receive(100), std::make_pair(false, Bytes{6, 7})); // fewer came than asked
    const std::vector<ScsiDouble::Sent> commands = sent();
    ASSERT_EQ(commands.size(), 4u);
    const Bytes poll = {0xC0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    const Bytes read5 = {0xC1, 0, 0, 0, 0, 0, 0, 5, 0, 0, 0, 0, 0, 0, 0, 0};
    const Bytes read100 = {0xC1, 0, 0, 0, 0, 0, 0, 100, 0, 0, 0, 0, 0, 0, 0, 0};
    EXPECT_TRUE(commands[0].block == poll && commands[0].room == 16);
    EXPECT_TRUE(commands[1].block == read5 && commands[1].room == 5);
    EXPECT_TRUE(commands[3].block == read100 && commands[3].room == 100);
    EXPECT_EQ(commands[1].atMs, commands[0].atMs) << "no pause while bytes come";
    EXPECT_EQ(source.counts().activity, 0xBEEF) << "kept, whatever it is";
    Bytes answer = {6, '0', '2'};
    Buffer buffer(answer.data(), 3);
    EXPECT_FALSE(source.answer(&buffer));
    const Bytes write3 = {0xC2, 0, 0, 0, 0, 0, 0, 3, 0, 0, 0, 0, 0, 0, 0, 0};
    EXPECT_TRUE(sent().back().block == write3 && sent().back().dataOut == answer);
}

// While nothing is offered: pauses that double up to the longest, and a receive that gives up
// after its window with nothing, which is no error; a stop asked for ends it at once.
TEST_F(DriveScreenSourceTest, PollsBackOffWhileNothingIsOffered) {
    open({{}, 0x02, noMedium});
    EXPECT_EQ(source.medium(), CasioDriveMedium::absent);
    const long long start = LibusbDouble::now();
    EXPECT_EQ(receive(), std::make_pair(false, Bytes{}));
    EXPECT_EQ(LibusbDouble::now() - start, CasioDriveScreenSource::receiveWindowMs);
    std::vector<long long> gaps;
    for (size_t i = 1; i < sent().size(); ++i) {
        gaps.push_back(sent()[i].atMs - sent()[i - 1].atMs);
    }
    EXPECT_EQ(gaps, (std::vector<long long>{2, 4, 8, 16, 32, 40, 40, 40, 40}));
    LinkInterrupt::request();
    const size_t before = sent().size();
    EXPECT_EQ(receive(), std::make_pair(false, Bytes{}));
    EXPECT_EQ(sent().size(), before);
}

// What the calculator answers decides how the source ends, and it ends only once.
TEST_F(DriveScreenSourceTest, EndsAsTheCalculatorSays) {
    const Answer timeout{{}, 0, {}, 0, 0x03, 0, LinkLimits::transferTimeoutMs};
    const std::vector<std::tuple<std::vector<Answer>, CasioDriveScreenEnd>> table = {
        {{{{}, 0x02, illegalRequest}}, CasioDriveScreenEnd::notScreenMode},
        {{{ScsiDouble::offer(4)}, {{}, 0, {}, ENODEV}}, CasioDriveScreenEnd::unplugged},
        {{{{}, 0, {}, EPERM}}, CasioDriveScreenEnd::forbidden},
        {std::vector<Answer>(6, timeout), CasioDriveScreenEnd::noAnswer},
        {std::vector<Answer>(10, {Bytes(16, 0xFF)}), CasioDriveScreenEnd::unreadable},
        {std::vector<Answer>(10, {{}, 0x08}), CasioDriveScreenEnd::unreadable},
    };
    for (const auto& [answers, end] : table) {
        SetUp();
        open();
        ScsiDouble::script(answers);
        bool ended = false;
        for (int i = 0; i < 100 && !ended; ++i) {
            ended = receive().first;
        }
        EXPECT_TRUE(ended && source.end() == end) << static_cast<int>(end);
        const size_t before = sent().size();
        EXPECT_TRUE(receive().first && sent().size() == before);
    }
}

TEST_F(DriveScreenSourceTest, ANodeThatCannotBeOpenedSaysWhy) {
    ScsiDouble::refuseOpen(EACCES);
    EXPECT_TRUE(source.open("/dev/sg1"));
    EXPECT_EQ(errno, EACCES);
}

} // namespace
