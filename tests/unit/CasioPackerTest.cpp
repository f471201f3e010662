#include "CasioPacker.h"
#include "Log.h"
#include "StdoutCapture.h"
#include "Wire.h"
#include "WireBytes.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <string>

namespace {

using WireBytes::Bytes;
using WireBytes::concat;
using WireBytes::text;

struct Packed {
    bool failed;
    int size;
    Bytes bytes; // the whole output area, canary bytes included
    std::string printed;
};

// Packs into an area of `capacity` bytes followed by canary bytes that must survive.
Packed pack(unsigned char type, unsigned char subtype, Bytes data, int capacity) {
    Buffer extendedData(data.empty() ? nullptr : data.data(), static_cast<int>(data.size()));
    Bytes output(static_cast<size_t>(capacity) + 16, 0xEE);
    Buffer outputBuffer(output.data(), capacity);
    StdoutCapture capture;
    const bool failed = CasioPacker::pack({type, subtype, &extendedData}, &outputBuffer);
    std::string printed = capture.finish();
    return {failed, outputBuffer.getSize(), output, printed};
}

Bytes packed(unsigned char type, unsigned char subtype, Bytes data) {
    Packed result = pack(type, subtype, std::move(data), 2100);
    EXPECT_FALSE(result.failed);
    result.bytes.resize(static_cast<size_t>(result.size));
    return result.bytes;
}

// Appends the two checksum digits a valid packet ends with.
Bytes withChecksum(Bytes packet) {
    return wire::withChecksum(std::move(packet));
}

struct Unpacked {
    bool failed;
    CasioPacketInfo info;
    int dataSize;
    Bytes data;
    std::string printed;
};

// Unpacks from a vector of exactly the received size, so that any read past the
// received bytes is out of bounds.
Unpacked unpack(Bytes received, int capacity = 4096) {
    Bytes target(static_cast<size_t>(capacity), 0xEE);
    Buffer targetBuffer(target.data(), capacity);
    CasioPacketInfo info = {0xAA, 0xBB, &targetBuffer};
    Buffer input(received.data(), static_cast<int>(received.size()));
    StdoutCapture capture;
    const bool failed = CasioPacker::unpack(&info, &input);
    std::string printed = capture.finish();
    const int dataSize = targetBuffer.getSize();
    target.resize(static_cast<size_t>(std::min(dataSize, capacity)));
    return {failed, info, dataSize, target, printed};
}

class CasioPackerTest : public ::testing::Test {
protected:
    void SetUp() override { Log::setLoglevel(LOGLEVEL_DEBUG); }
};

TEST_F(CasioPackerTest, PacketsWithoutDataAreSixBytesWithTheTypeUncovered) {
    EXPECT_EQ(packed(0x06, 0x00, {}), WireBytes::ack());
    EXPECT_EQ(packed(0x05, 0x00, {}), WireBytes::packet(0x05, "00070"));
    EXPECT_EQ(packed(0x18, 0x00, {}), WireBytes::packet(0x18, "00070"));
    EXPECT_EQ(packed(0x15, 0x01, {}), WireBytes::resendRequest());
}

TEST_F(CasioPackerTest, ExtendedDataIsEscapedAndItsEscapedLengthDeclared) {
    EXPECT_EQ(packed(0x01, 0x45, text("AB")), concat({0x01}, text("4510002AB21")));
    EXPECT_EQ(packed(0x02, 0x45, {0x00, 0x5C, 0x1F}),
              concat(concat({0x02}, text("4510005")),
                     concat({0x5C, 0x20, 0x5C, 0x7C, 0x1F}, text("2E"))));
}

TEST_F(CasioPackerTest, EscapedDataOfUpTo2048BytesPacks) {
    const Bytes zeros(1024, 0x00); // escapes to 2048 bytes
    const Packed full = pack(0x02, 0x45, zeros, 2058);
    EXPECT_FALSE(full.failed);
    EXPECT_EQ(full.size, 2058);
    EXPECT_EQ(Bytes(full.bytes.begin() + 4, full.bytes.begin() + 8), text("0800"));
    EXPECT_EQ(full.bytes[2058], 0xEE);

    Bytes oneMore = zeros;
    oneMore.push_back('A');
    const Packed tooBig = pack(0x02, 0x45, oneMore, 4096);
    EXPECT_TRUE(tooBig.failed);
    EXPECT_EQ(tooBig.size, 4096);
    EXPECT_EQ(tooBig.printed, "[ERROR]: insertExtendedData: impossible: too big for escape !\n"
                              "data size 1025, working buffer size 4096\n");
}

TEST_F(CasioPackerTest, APacketThatDoesNotFitTheOutputIsRefusedWithoutWritingPastIt) {
    const Packed exact = pack(0x01, 0x45, text("AB"), 12);
    EXPECT_FALSE(exact.failed);
    EXPECT_EQ(exact.size, 12);

    const Packed short1 = pack(0x01, 0x45, text("AB"), 11);
    EXPECT_TRUE(short1.failed);
    EXPECT_EQ(short1.size, 11);
    EXPECT_EQ(short1.bytes[11], 0xEE);
    EXPECT_EQ(short1.printed, "[ERROR]: Packet too big for the output buffer !\n"
                              "data size 2, working buffer size 11\n");

    EXPECT_FALSE(pack(0x06, 0x00, {}, 6).failed);
    const Packed noRoom = pack(0x06, 0x00, {}, 5);
    EXPECT_TRUE(noRoom.failed);
    EXPECT_EQ(noRoom.size, 5);
    EXPECT_EQ(noRoom.bytes[5], 0xEE);
}

TEST_F(CasioPackerTest, UnpacksTypeSubtypeAndRestoredData) {
    const Unpacked ack = unpack(WireBytes::ack());
    EXPECT_FALSE(ack.failed);
    EXPECT_EQ(ack.info.type, 0x06);
    EXPECT_EQ(ack.info.subtype, 0x00);
    EXPECT_EQ(ack.dataSize, 4096); // untouched without extended data

    const Unpacked part = unpack(packed(0x02, 0x45, {0x00, 0x5C, 0x1F}));
    EXPECT_FALSE(part.failed);
    EXPECT_EQ(part.info.subtype, 0x45);
    EXPECT_EQ(part.data, Bytes({0x00, 0x5C, 0x1F}));

    Bytes retyped = WireBytes::ack();
    retyped[0] = 0x42;
    EXPECT_EQ(unpack(retyped).info.type, 0x42);
}

TEST_F(CasioPackerTest, AWrongChecksumIsReportedWithItsDiagnostics) {
    Bytes bad = WireBytes::ack();
    bad[5] = '1';
    const Unpacked result = unpack(bad);
    EXPECT_TRUE(result.failed);
    EXPECT_EQ(result.info.type, 0xAA);
    EXPECT_EQ(result.printed, "[WARNING]: Wrong checksum !\npacketsize 6\n113 vs 112\n"
                              "Type6 Subtype0\n[WARNING]: Corrupted packet !\n");
}

TEST_F(CasioPackerTest, DeclaredSizesUpTo1024AreAccepted) {
    const Bytes data(1024, 'x');
    const Unpacked largest = unpack(withChecksum(concat(concat({0x02}, text("4510400")), data)));
    EXPECT_FALSE(largest.failed);
    EXPECT_EQ(largest.dataSize, 1024);

    const Unpacked tooLarge =
        unpack(withChecksum(concat(concat({0x02}, text("4510401")), concat(data, text("x")))));
    EXPECT_TRUE(tooLarge.failed);
    EXPECT_EQ(tooLarge.info.type, 0xAA);
    EXPECT_EQ(tooLarge.printed,
              "[WARNING]: Bad extended data size !\n1025\n[WARNING]: Corrupted packet !\n");
}

TEST_F(CasioPackerTest, AnyFlagButZeroAnnouncesData) {
    const Unpacked emptyData = unpack(withChecksum(concat({0x06}, text("0010000"))));
    EXPECT_FALSE(emptyData.failed);
    EXPECT_EQ(emptyData.dataSize, 4096);

    for (char flag : {'1', '2', 'A', 'a'}) {
        const std::string header = std::string("45") + flag + "0002";
        const Unpacked result =
            unpack(withChecksum(concat(concat({0x01}, text(header)), text("AB"))));
        EXPECT_FALSE(result.failed) << flag;
        EXPECT_EQ(result.data, text("AB")) << flag;
    }
}

TEST_F(CasioPackerTest, BytesBetweenTheDataAndTheChecksumAreIgnored) {
    const Unpacked result = unpack(withChecksum(concat({0x01}, text("4510002ABjunk"))));
    EXPECT_FALSE(result.failed);
    EXPECT_EQ(result.data, text("AB"));
}

TEST_F(CasioPackerTest, DataLargerThanTheTargetIsRefusedAfterTypeAndSubtype) {
    const Unpacked result = unpack(packed(0x01, 0x45, text("ABCDEF")), 5);
    EXPECT_TRUE(result.failed);
    EXPECT_EQ(result.info.type, 0x01);
    EXPECT_EQ(result.info.subtype, 0x45);
    EXPECT_EQ(result.dataSize, 5);
    EXPECT_EQ(result.data, text("ABCDE"));
    EXPECT_EQ(result.printed, "[ERROR]: Can't unpack, buffer too small !\n");
}

TEST_F(CasioPackerTest, PacketsShorterThanSixBytesAreCorrupted) {
    const Bytes ack = WireBytes::ack();
    for (size_t size = 0; size < 6; ++size) {
        const Unpacked result = unpack(Bytes(ack.begin(), ack.begin() + size));
        EXPECT_TRUE(result.failed) << size;
        EXPECT_EQ(result.info.type, 0xAA);
        EXPECT_EQ(result.printed, "[WARNING]: Wrong checksum !\npacketsize " +
                                      std::to_string(size) + "\n[WARNING]: Corrupted packet !\n");
    }
}

TEST_F(CasioPackerTest, DataDeclaredBeyondTheReceivedBytesIsCorrupted) {
    // Declares 16 escaped bytes but carries 2, with a checksum that matches.
    const Unpacked truncated = unpack(withChecksum(concat({0x01}, text("4510010AB"))));
    EXPECT_TRUE(truncated.failed);
    EXPECT_EQ(truncated.printed,
              "[WARNING]: Bad extended data size !\n16\n[WARNING]: Corrupted packet !\n");

    // A flag with no room left for the size field itself.
    const Unpacked noSizeField = unpack(withChecksum(concat({0x01}, text("451"))));
    EXPECT_TRUE(noSizeField.failed);
    EXPECT_EQ(noSizeField.printed,
              "[WARNING]: Bad extended data size !\n-1\n[WARNING]: Corrupted packet !\n");

    // Exactly enough bytes still unpacks.
    EXPECT_FALSE(unpack(withChecksum(concat({0x01}, text("4510002AB")))).failed);
}

TEST_F(CasioPackerTest, DiagnosticLinesArePrintedEvenWhenSilenced) {
    Log::setLoglevel(-1);
    Bytes bad = WireBytes::ack();
    bad[5] = '1';
    EXPECT_EQ(unpack(bad).printed, "packetsize 6\n113 vs 112\nType6 Subtype0\n");
}

} // namespace
