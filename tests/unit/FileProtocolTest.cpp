#include "FileProtocol.h"
#include "Log.h"
#include "StdoutCapture.h"
#include "WireBytes.h"

#include <array>
#include <gtest/gtest.h>
#include <string>
#include <utility>

namespace {

using WireBytes::Bytes;
using WireBytes::framed;
using WireBytes::text;

struct Built {
    bool failed;
    Bytes packet;
    std::string printed;
};

Built request(int size, const std::string& folder, const std::string& file,
              const std::string& device, unsigned char mode) {
    Bytes output(2048 + 16, 0xEE);
    Buffer buffer(output.data(), 2048);
    StdoutCapture capture;
    const bool failed = FileProtocol::buildSendRequestPacket(&buffer, size, folder.c_str(),
                                                             file.c_str(), device.c_str(), mode);
    std::string printed = capture.finish();
    EXPECT_EQ(output[2048], 0xEE);
    output.resize(failed ? 0 : static_cast<size_t>(buffer.getSize()));
    return {failed, output, printed};
}

Built part(Bytes image, int partId, int partCount, int partSize = 256, int capacity = 2048) {
    Bytes output(static_cast<size_t>(capacity), 0xEE);
    Buffer data(image.data(), static_cast<int>(image.size()));
    Buffer buffer(output.data(), capacity);
    StdoutCapture capture;
    const bool failed =
        FileProtocol::buildFilePartPacket(&buffer, &data, partId, partCount, partSize);
    std::string printed = capture.finish();
    output.resize(failed ? 0 : static_cast<size_t>(buffer.getSize()));
    return {failed, output, printed};
}

Bytes partData(const std::string& header, const Bytes& bytes) {
    return WireBytes::concat(text(header), bytes);
}

Bytes counting(size_t size) {
    Bytes bytes(size);
    for (size_t i = 0; i < size; ++i) {
        bytes[i] = static_cast<uint8_t>(i * 7);
    }
    return bytes;
}

class FileProtocolTest : public ::testing::Test {
protected:
    void SetUp() override { Log::setLoglevel(LOGLEVEL_INFO); }
};

TEST_F(FileProtocolTest, RequestCarriesModeSizeAndNames) {
    const Built example = request(300, "", "ABC.TXT", "fls0", 0);
    EXPECT_FALSE(example.failed);
    EXPECT_EQ(example.packet, framed(0x01, 0x45, text("00050000012C000700000400ABC.TXTfls0")));

    EXPECT_EQ(request(0x1234ABCD, "GAMES", "a b\\c", "crd0", 2).packet,
              framed(0x01, 0x45, text("02051234ABCD050500000400GAMESa b\\ccrd0")));
}

TEST_F(FileProtocolTest, NamesThatTheRequestCannotHoldAreRefused) {
    const std::string longest(255, '\\'); // each byte doubles when escaped
    const Built largest = request(1, longest, longest, longest, 0);
    EXPECT_FALSE(largest.failed);
    EXPECT_EQ(largest.packet.size(), 24u + 2 * 765 + 10);

    for (const auto& names : {std::array<size_t, 3>{256, 7, 4}, std::array<size_t, 3>{0, 256, 4},
                              std::array<size_t, 3>{0, 7, 256}}) {
        const Built tooLong = request(1, std::string(names[0], 'F'), std::string(names[1], 'n'),
                                      std::string(names[2], 'd'), 0);
        EXPECT_TRUE(tooLong.failed);
        EXPECT_EQ(tooLong.printed,
                  "[ERROR]: Name too long for the file request (255 bytes max) !\n");
    }
}

TEST_F(FileProtocolTest, ARequestThatDoesNotFitItsOutputIsAFailureNotAnOverflow) {
    Bytes output(64, 0xEE);
    Buffer buffer(output.data(), 40);
    StdoutCapture capture;
    EXPECT_TRUE(FileProtocol::buildSendRequestPacket(&buffer, 300, "", "ABC.TXT", "fls0", 0));
    EXPECT_EQ(capture.finish(), "[ERROR]: Packet too big for the output buffer !\n"
                                "data size 35, working buffer size 40\n"
                                "[ERROR]: Failed to pack send file request !\n");
    EXPECT_EQ(output[40], 0xEE);
}

TEST_F(FileProtocolTest, PartsCarryCountNumberAndTheirSliceOfTheFile) {
    EXPECT_EQ(part({0x42}, 0, 1).packet, framed(0x02, 0x45, partData("00010001", {0x42})));

    const Bytes full = counting(256);
    EXPECT_EQ(part(full, 0, 1).packet, framed(0x02, 0x45, partData("00010001", full)));

    const Bytes oneOver = counting(257);
    EXPECT_EQ(part(oneOver, 1, 2).packet, framed(0x02, 0x45, partData("00020002", {oneOver[256]})));

    const Bytes file = counting(300);
    EXPECT_EQ(part(file, 0, 2).packet,
              framed(0x02, 0x45, partData("00020001", Bytes(file.begin(), file.begin() + 256))));
    EXPECT_EQ(part(file, 1, 2).packet,
              framed(0x02, 0x45, partData("00020002", Bytes(file.begin() + 256, file.end()))));
}

TEST_F(FileProtocolTest, APartAreaSmallerThanAPartIsRefused) {
    const Built tooSmall = part(counting(10), 0, 1, 256, 263);
    EXPECT_TRUE(tooSmall.failed);
    EXPECT_EQ(tooSmall.printed, "[ERROR]: buildFilePartPacket: impossible: Buffer too small !\n");
    EXPECT_FALSE(part(counting(10), 0, 1, 256, 264).failed);
}

TEST_F(FileProtocolTest, PartArgumentsOutOfRangeAreRefusedBeforeAnyArithmetic) {
    const Bytes image = counting(300);
    for (const auto& [partId, partSize] :
         {std::pair{0x40000000, 256}, std::pair{0, 0x7FFFFFFF}, std::pair{0x7FFFFFFF, 0},
          std::pair{-1, 256}, std::pair{0, -8}, std::pair{2, 256}, std::pair{0xFFFF, 0}}) {
        const Built refused = part(image, partId, 1, partSize);
        EXPECT_TRUE(refused.failed) << partId << " " << partSize;
        EXPECT_EQ(refused.printed,
                  "[ERROR]: buildFilePartPacket: impossible: Buffer too small !\n");
    }
    // The last part number that four digits hold, and a part starting at the image's end.
    EXPECT_FALSE(part(image, 0xFFFE, 0xFFFF, 0).failed);
    EXPECT_FALSE(part(counting(256), 1, 1).failed);
}

} // namespace
