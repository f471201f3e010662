#include "AsciiConverter.h"
#include "CasioChecksum.h"
#include "CasioEscaper.h"
#include "WireBytes.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <string>

namespace {

using WireBytes::Bytes;
using WireBytes::text;

std::string digits(int number, int byteCount) {
    std::string output(16, '?');
    AsciiConverter::numberToAscii(number, reinterpret_cast<unsigned char*>(output.data()),
                                  byteCount);
    return output.substr(0, static_cast<size_t>(std::max(byteCount, 0)) + 1);
}

int number(const std::string& text) {
    std::string copy = text;
    int value = -12345;
    AsciiConverter::asciiToNumber(reinterpret_cast<unsigned char*>(copy.data()), &value,
                                  static_cast<int>(copy.size()));
    return value;
}

TEST(AsciiConverter, WritesFixedWidthUpperCaseDigitsAndNothingBeyond) {
    // The trailing '?' proves no byte past the field is touched.
    EXPECT_EQ(digits(0x45, 2), "45?");
    EXPECT_EQ(digits(10, 1), "A?");
    EXPECT_EQ(digits(0, 4), "0000?");
    EXPECT_EQ(digits(1234, 4), "04D2?");
    EXPECT_EQ(digits(2048, 4), "0800?");
    EXPECT_EQ(digits(0x1FF, 2), "FF?");
    EXPECT_EQ(digits(-1, 4), "FFFF?");
    EXPECT_EQ(digits(300, 8), "0000012C?");
    EXPECT_EQ(digits(-1, 8), "FFFFFFFF?");
    EXPECT_EQ(digits(0x45, 0), "?");
    EXPECT_EQ(digits(0xABCDEF12, 10), "00ABCDEF12?");
}

TEST(AsciiConverter, ReadsDigitsAndDecodesOtherBytesByTheirDifference) {
    EXPECT_EQ(number("45"), 69);
    EXPECT_EQ(number("FF"), 255);
    EXPECT_EQ(number("0400"), 1024);
    EXPECT_EQ(number("0401"), 1025);
    EXPECT_EQ(number("FFFF"), 65535);
    EXPECT_EQ(number("FFFFFFFF"), -1);
    EXPECT_EQ(number("0a"), 42);
    EXPECT_EQ(number("ff"), 0x2FF);
    EXPECT_EQ(number("0:"), 3);
    EXPECT_EQ(number(" "), 0xF0);
    EXPECT_EQ(number(""), 0);
    // Digits beyond the eighth carry no bits.
    EXPECT_EQ(number("FFFFFFFFFF"), -1);
}

TEST(AsciiConverter, RoundTripsTheLowBitsOfEveryWidthUsed) {
    for (int width : {1, 2, 4, 8}) {
        for (int value : {0, 1, 9, 10, 15, 0x45, 0x1FF, 0xFFFF, 0x12345678, -1}) {
            std::string text(static_cast<size_t>(width), ' ');
            AsciiConverter::numberToAscii(value, reinterpret_cast<unsigned char*>(text.data()),
                                          width);
            const unsigned mask = width == 8 ? 0xFFFFFFFFu : (1u << (4 * width)) - 1;
            EXPECT_EQ(static_cast<unsigned>(number(text)), static_cast<unsigned>(value) & mask)
                << "width " << width << " value " << value;
        }
    }
}

unsigned char checksumOf(Bytes bytes) {
    Buffer buffer(bytes.data(), static_cast<int>(bytes.size()));
    return CasioChecksum::compute(&buffer);
}

TEST(CasioChecksum, NegatesTheSumOfAllButTheFirstByte) {
    EXPECT_EQ(checksumOf({0x06, '0', '0', '0'}), 0x70);
    EXPECT_EQ(checksumOf({0xFF, '0', '0', '0'}), 0x70);
    EXPECT_EQ(checksumOf({}), 0);
    EXPECT_EQ(checksumOf({0x42}), 0);
    Bytes bytes = WireBytes::allByteValues();
    unsigned sum = checksumOf(bytes);
    for (size_t i = 1; i < bytes.size(); ++i) {
        sum += bytes[i];
    }
    EXPECT_EQ(sum % 256, 0u);
}

struct Transformed {
    bool failed;
    int size;
    Bytes bytes;
};

Transformed transform(bool (*operation)(Buffer*, Buffer*), Bytes input, int capacity) {
    Bytes output(static_cast<size_t>(capacity) + 4, 0xEE);
    Buffer in(input.data(), static_cast<int>(input.size()));
    Buffer out(output.data(), capacity);
    const bool failed = operation(&in, &out);
    const int produced = failed ? capacity : out.getSize();
    return {failed, out.getSize(), Bytes(output.begin(), output.begin() + produced)};
}

Transformed escape(Bytes input, int capacity) {
    return transform(CasioEscaper::escapeBuffer, std::move(input), capacity);
}

Transformed restore(Bytes input, int capacity) {
    return transform(CasioEscaper::restoreBuffer, std::move(input), capacity);
}

TEST(CasioEscaper, EscapesControlBytesAndTheEscapeByteOnly) {
    EXPECT_EQ(escape({0x00}, 8).bytes, Bytes({0x5C, 0x20}));
    EXPECT_EQ(escape({0x1E}, 8).bytes, Bytes({0x5C, 0x3E}));
    EXPECT_EQ(escape({0x1F}, 8).bytes, Bytes({0x1F}));
    EXPECT_EQ(escape({0x5C}, 8).bytes, Bytes({0x5C, 0x7C}));
    EXPECT_EQ(escape({0x20, 0x7F, 0xFF}, 8).bytes, Bytes({0x20, 0x7F, 0xFF}));
    EXPECT_EQ(escape(WireBytes::allByteValues(), 512).size, 288);
}

TEST(CasioEscaper, FailsWhenTheCapacityRunsOutAndKeepsTheCapacityAsSize) {
    const Bytes input = {0x00, 'A', 0x5C};
    EXPECT_FALSE(escape(input, 5).failed);
    EXPECT_EQ(escape(input, 5).bytes, Bytes({0x5C, 0x20, 'A', 0x5C, 0x7C}));
    const Transformed tooSmall = escape(input, 4);
    EXPECT_TRUE(tooSmall.failed);
    EXPECT_EQ(tooSmall.size, 4);

    // Between the escape byte and its second byte.
    const Transformed half = escape({0x5C}, 1);
    EXPECT_TRUE(half.failed);
    EXPECT_EQ(half.size, 1);
    EXPECT_EQ(half.bytes, Bytes({0x5C}));
    EXPECT_EQ(escape({0x5C}, 2).bytes, Bytes({0x5C, 0x7C}));

    EXPECT_TRUE(restore({'A', 'B', 'C'}, 2).failed);
    EXPECT_EQ(restore({'A', 'B', 'C'}, 2).size, 2);
}

TEST(CasioEscaper, EmptyInputSucceedsEvenWithoutCapacity) {
    for (auto operation : {CasioEscaper::escapeBuffer, CasioEscaper::restoreBuffer}) {
        const Transformed result = transform(operation, {}, 0);
        EXPECT_FALSE(result.failed);
        EXPECT_EQ(result.size, 0);
    }
}

// Both ways of sending 0x5C (ours, 5C 7C, and a calculator's, 5C 5C) and every other escape.
TEST(CasioEscaper, RestoresEveryEscapeACalculatorOrWeSend) {
    const struct {
        Bytes escaped;
        Bytes restored;
    } cases[] = {
        {{0x5C, 0x5C}, {0x5C}},
        {{0x5C, 0x7C}, {0x5C}},
        {{0x5C, 0x20}, {0x00}},
        {{0x5C, 0x3E}, {0x1E}},
        {{'A', 0x5C, 0x5C, 0x5C, 0x5C, 'B', 0x5C, 0x21}, {'A', 0x5C, 0x5C, 'B', 0x01}},
    };
    for (const auto& scenario : cases) {
        const Transformed result = restore(scenario.escaped, 8);
        EXPECT_FALSE(result.failed);
        EXPECT_EQ(result.bytes, scenario.restored);
    }
}

TEST(CasioEscaper, RestoresWhatItEscaped) {
    for (int value = 0; value < 256; ++value) {
        const Bytes single = {static_cast<uint8_t>(value)};
        const Transformed escaped = escape(single, 2);
        ASSERT_FALSE(escaped.failed) << value;
        EXPECT_EQ(restore(escaped.bytes, 1).bytes, single) << value;
    }
    const Bytes all = WireBytes::allByteValues();
    EXPECT_EQ(restore(escape(all, 288).bytes, 256).bytes, all);
}

TEST(CasioEscaper, ALoneEscapeByteAtTheEndIsRefusedWithoutReadingPastTheInput) {
    // The input lies at the very end of its storage, so a read past it would be
    // out of bounds for the sanitizers.
    Bytes storage = {'A', 0x5C};
    Buffer in(storage.data(), 2);
    unsigned char output[8];
    Buffer out(output, 8);
    EXPECT_TRUE(CasioEscaper::restoreBuffer(&in, &out));
    EXPECT_EQ(out.getSize(), 8);
}

} // namespace
