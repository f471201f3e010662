// A drive calculator's screen source over a scripted SCSI device on the virtual clock: what each
// poll answer makes it read, how it paces its polls, and how status, sense and the call's
// errors end it.

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
using ScsiDouble::offer;
using End = CasioDriveScreenEnd;

const Bytes illegalRequest = {0x70, 0, 0x05, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0x20, 0};

// A command block: its count sits where an offer's bytes ready do.
Bytes block(unsigned char code, int count = 0) {
    Bytes bytes = offer(count);
    bytes[0] = code;
    return bytes;
}

class DriveScreenSourceTest : public ::testing::Test {
protected:
    // Opened afresh, TEST UNIT READY answered `medium`, then `script`; what the open sent is
    // forgotten, and every command after the script is answered with nothing offered.
    void open(const std::vector<Answer>& script, const Answer& medium = {}) {
        LibusbDouble::reset();
        ScsiDouble::reset(medium);
        ASSERT_FALSE(source.open("/dev/sg1"));
        ScsiDouble::reset({offer(0)});
        ScsiDouble::script(script);
    }
    std::pair<bool, Bytes> receive(int room = 65536) {
        Bytes bytes(static_cast<size_t>(room));
        Buffer buffer(bytes.data(), room);
        const bool ended = source.receive(&buffer);
        bytes.resize(static_cast<size_t>(buffer.getSize()));
        return {ended, bytes};
    }
    void TearDown() override { LinkInterrupt::clear(); }

    CasioDriveScreenSource source;
};

// A read asks for what the poll before it offered, at most the room, at once; an answer that is
// not an offer is none. The activity status is kept, whatever it is (the idle polls' is 0).
TEST_F(DriveScreenSourceTest, EachPollAnswerDecidesTheRead) {
    Bytes reserved = offer(7, 3), short15(reserved.begin(), reserved.end() - 1);
    reserved[15] = 0xEE;
    const std::vector<std::tuple<Bytes, int, Bytes, int>> table = {
        {offer(5, 9), 65536, block(0xC1, 5), 9},
        {offer(0xFFFF, 0xABCD), 100, block(0xC1, 100), 0xABCD},
        {reserved, 65536, block(0xC1, 7), 3},
        {short15, 65536, block(0xC0), 0},
        {Bytes(16, 0), 65536, block(0xC0), 0},
        {offer(0, 0x0101), 65536, block(0xC0), 0},
    };
    for (const auto& [answer, room, next, activity] : table) {
        open({{answer}, {{1, 2}}});
        receive(room);
        const std::vector<ScsiDouble::Sent>& sent = ScsiDouble::sent();
        EXPECT_TRUE(sent[0].block == block(0xC0) && sent[0].room == 16);
        EXPECT_TRUE(sent[1].block == next && (next[0] == 0xC0 || sent[1].atMs == sent[0].atMs));
        EXPECT_EQ(source.counts().activity, activity);
    }
    open({{offer(5)}, {{1, 2}}}); // fewer came than asked
    EXPECT_EQ(receive(), std::make_pair(false, Bytes{1, 2}));
    Bytes answer = {6, '0', '2'};
    Buffer buffer(answer.data(), 3);
    EXPECT_FALSE(source.answer(&buffer));
    EXPECT_TRUE(ScsiDouble::sent()[2].block == block(0xC2, 3) &&
                ScsiDouble::sent()[2].dataOut == answer);
}

// While nothing is offered, pauses double up to the longest; a receive gives up after its
// window with nothing, which is no error, and a stop asked for ends it at once.
TEST_F(DriveScreenSourceTest, PollsBackOffWhileNothingIsOffered) {
    open({}, {{}, 0x02, {0x70, 0, 0x02, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0x3A}});
    EXPECT_EQ(source.medium(), CasioDriveMedium::absent);
    EXPECT_EQ(receive(), std::make_pair(false, Bytes{}));
    EXPECT_EQ(LibusbDouble::now(), CasioDriveScreenSource::receiveWindowMs);
    std::vector<long long> gaps;
    for (size_t i = 1; i < ScsiDouble::sent().size(); ++i) {
        gaps.push_back(ScsiDouble::sent()[i].atMs - ScsiDouble::sent()[i - 1].atMs);
    }
    EXPECT_EQ(gaps, (std::vector<long long>{2, 4, 8, 16, 32, 40, 40, 40, 40}));
    LinkInterrupt::request();
    const size_t before = ScsiDouble::sent().size();
    EXPECT_TRUE(receive() == std::make_pair(false, Bytes{}) && ScsiDouble::sent().size() == before);
}

// Every command answered so, ten times over, ends the source so; an ended source sends nothing.
TEST_F(DriveScreenSourceTest, StatusSenseAndErrorsEndItAsTheySay) {
    const long long timeout = LinkLimits::transferTimeoutMs;
    const Bytes keyNotWritten(illegalRequest.begin(), illegalRequest.begin() + 2);
    const std::vector<std::pair<Answer, End>> table = {
        {{{}, 0x02, illegalRequest}, End::notScreenMode},
        {{{}, 0x02, {0x72, 0x05, 0x20}}, End::notScreenMode}, // descriptor format
        {{{}, 0x02, keyNotWritten}, End::unreadable},
        {{{}, 0x08}, End::unreadable},        // busy
        {{Bytes(16, 0xFF)}, End::unreadable}, // no offer
        {{{}, 0, {}, ENODEV}, End::unplugged},
        {{{}, 0, {}, 0, 0x01}, End::unplugged},
        {{{}, 0, {}, EPERM}, End::forbidden},
        {{{}, 0, {}, EIO}, End::unreadable},
        {{{}, 0, {}, 0, 0x03, 0, timeout}, End::noAnswer},
        {{{}, 0, {}, 0, 0, 0x06, timeout}, End::noAnswer},
    };
    for (const auto& [answer, end] : table) {
        open(std::vector<Answer>(10, answer));
        for (int i = 0; i < 100 && !receive().first; ++i) {
        }
        EXPECT_EQ(source.end(), end) << answer.status << answer.error << answer.hostStatus;
        const size_t before = ScsiDouble::sent().size();
        EXPECT_TRUE(receive().first && ScsiDouble::sent().size() == before);
    }
    open({{offer(4)}, {{}, 0, {}, ENODEV}}); // unplugged in mid-read
    EXPECT_TRUE(receive().first && source.end() == End::unplugged);
    ScsiDouble::reset({}, EACCES);
    EXPECT_TRUE(source.open("/dev/sg1") && errno == EACCES) << "permission, told by errno";
}

} // namespace
