// The screen reader over streams the virtual calculator's frame encoder makes: every kind and
// pixel format pixel for pixel, streams spoiled the ways a cable spoils them, frames cut at
// every point, the check answered once per check, and fields that must never be trusted.

#include "CasioScreenReader.h"
#include "LibusbDouble.h"
#include "LinkOverDouble.h"
#include "ScreenWire.h"

#include <cstring>
#include <functional>
#include <gtest/gtest.h>
#include <random>
#include <string>
#include <vector>

namespace {

using screenwire::Format;
using screenwire::Kind;
using screenwire::Picture;

Picture randomPicture(unsigned width, unsigned height, unsigned seed) {
    std::mt19937 generator(seed);
    Picture picture{width, height, Bytes(static_cast<size_t>(width) * height * 3)};
    for (uint8_t& byte : picture.rgb) {
        byte = static_cast<uint8_t>(generator());
    }
    return picture;
}

Bytes join(std::initializer_list<Bytes> parts) {
    Bytes bytes;
    for (const Bytes& part : parts) {
        bytes.insert(bytes.end(), part.begin(), part.end());
    }
    return bytes;
}

Bytes text(const std::string& characters) {
    return Bytes(characters.begin(), characters.end());
}

Bytes firstBytes(const Bytes& bytes, size_t count) {
    return Bytes(bytes.begin(), bytes.begin() + static_cast<long>(count));
}

class ScreenReaderTest : public LinkOverDouble, public CasioScreenListener {
protected:
    void pictureReceived(const CasioScreenPicture& picture) override {
        const size_t size = static_cast<size_t>(picture.width) * picture.height * 3;
        pictures.push_back({static_cast<unsigned>(picture.width),
                            static_cast<unsigned>(picture.height),
                            Bytes(picture.rgb, picture.rgb + size)});
    }

    // Feeds `stream` in reads of `readSize` bytes (0: all at once) to a fresh reader.
    CasioScreenCounts read(const Bytes& stream, size_t readSize = 0, Socket* answerer = nullptr,
                           int frameArea = CasioScreenReader::screenFrameArea,
                           int pictureArea = CasioScreenReader::screenPictureArea) {
        frames.assign(static_cast<size_t>(frameArea), 0);
        picture.assign(static_cast<size_t>(pictureArea), 0);
        pictures.clear();
        CasioScreenReader reader(Buffer(frames.data(), frameArea),
                                 Buffer(picture.data(), pictureArea), this, answerer);
        const size_t step = readSize == 0 ? stream.size() : readSize;
        for (size_t at = 0; at < stream.size(); at += step) {
            Bytes piece(stream.begin() + static_cast<long>(at),
                        stream.begin() + static_cast<long>(std::min(stream.size(), at + step)));
            EXPECT_FALSE(reader.feed(Buffer(piece.data(), static_cast<int>(piece.size()))));
        }
        return reader.counts();
    }

    std::vector<Picture> pictures;
    std::vector<unsigned char> frames;
    std::vector<unsigned char> picture;
};

struct Shot {
    const char* name;
    Kind kind;
    Format format;
    Picture picture;
};

const std::vector<Shot>& shots() {
    static const std::vector<Shot> table = {
        {"TYP01 pattern", Kind::Typ01, Format::Monochrome, screenwire::testPattern(Kind::Typ01)},
        {"TYP01 random", Kind::Typ01, Format::Monochrome, randomPicture(128, 64, 1)},
        {"TYPZ1 1RC2 pattern", Kind::Typz1, Format::Rc2, screenwire::testPattern(Kind::Typz1)},
        {"TYPZ1 1RC3 pattern", Kind::Typz1, Format::Rc3, screenwire::testPattern(Kind::Typz1)},
        {"TYPZ1 1RM2 pattern", Kind::Typz1, Format::Rm2, screenwire::testPattern(Kind::Typz1)},
        {"TYPZ2 1RC2 random", Kind::Typz2, Format::Rc2, randomPicture(384, 216, 2)},
        {"TYPZ2 1RC3 odd width", Kind::Typz2, Format::Rc3, randomPicture(13, 5, 3)},
        {"TYPZ2 1RM2 odd width", Kind::Typz2, Format::Rm2, randomPicture(21, 4, 4)},
    };
    return table;
}

TEST_F(ScreenReaderTest, EveryKindAndFormatArrivesPixelForPixelInAnyReadSize) {
    for (const Shot& shot : shots()) {
        const Picture expected = screenwire::shown(shot.format, shot.picture);
        const Bytes frame = screenwire::frame(shot.kind, shot.format, shot.picture);
        for (size_t readSize : {size_t{0}, size_t{1}, size_t{63}, size_t{4096}}) {
            SCOPED_TRACE(std::string(shot.name) + ", reads of " + std::to_string(readSize));
            const CasioScreenCounts counts = read(join({frame, frame}), readSize);
            ASSERT_EQ(pictures.size(), 2u);
            EXPECT_TRUE(pictures[0] == expected);
            EXPECT_TRUE(pictures[1] == expected);
            EXPECT_EQ(counts.skippedBytes + counts.damaged + counts.impossible, 0u);
        }
    }
}

TEST_F(ScreenReaderTest, ASmallFrameSplitAtEveryPointArrivesOnce) {
    const Picture small = randomPicture(3, 2, 5);
    const Bytes stream =
        join({screenwire::check(), screenwire::frame(Kind::Typz1, Format::Rc2, small)});
    for (size_t split = 0; split <= stream.size(); ++split) {
        SCOPED_TRACE("split at " + std::to_string(split));
        frames.assign(CasioScreenReader::screenFrameArea, 0);
        picture.assign(CasioScreenReader::screenPictureArea, 0);
        pictures.clear();
        LibusbDouble::clearTransfers();
        CasioScreenReader reader(Buffer(frames.data(), CasioScreenReader::screenFrameArea),
                                 Buffer(picture.data(), CasioScreenReader::screenPictureArea), this,
                                 &socket);
        Bytes head = firstBytes(stream, split);
        Bytes tail(stream.begin() + static_cast<long>(split), stream.end());
        reader.feed(Buffer(head.data(), static_cast<int>(head.size())));
        reader.feed(Buffer(tail.data(), static_cast<int>(tail.size())));
        ASSERT_EQ(pictures.size(), 1u);
        EXPECT_TRUE(pictures[0] == screenwire::shown(Format::Rc2, small));
        EXPECT_EQ(LibusbDouble::bytesSent(), screenwire::checkAnswer());
    }
}

// A stream spoiled between or inside the frames A, B and C of one picture each.
struct Spoiled {
    const char* name;
    std::function<Bytes(const Bytes& a, const Bytes& b, const Bytes& c)> stream;
    std::vector<int> received; // which of A, B, C arrive, in order
    unsigned long CasioScreenCounts::*count;
    unsigned long atLeast;
};

TEST_F(ScreenReaderTest, ASpoiledStreamLosesOnlyTheSpoiledFrames) {
    const std::vector<Picture> sent = {randomPicture(40, 30, 6), randomPicture(40, 30, 7),
                                       randomPicture(40, 30, 8)};
    const auto frameOf = [](const Picture& shot) {
        return screenwire::frame(Kind::Typz1, Format::Rc2, shot);
    };
    const Bytes lure = join({{0x0B}, text("TYPZ1000"), {0x16, 'C', 'A', 0x0B, 'T', 0x00}});
    const auto otherFormat = screenwire::colourFrame(Kind::Typz1, "1RC9", 2, 2, 4, {1, 2, 3, 4});
    const std::vector<Spoiled> table = {
        {"stray bytes",
         [&](auto a, auto b, auto c) {
             return join({lure, a, lure, b, c, lure});
         },
         {0, 1, 2},
         &CasioScreenCounts::skippedBytes,
         2 * lure.size()},
        {"damaged",
         [](auto a, auto b, auto c) {
             b[b.size() / 2] ^= 0x01;
             return join({a, b, c});
         },
         {0, 2},
         &CasioScreenCounts::damaged,
         1},
        {"cut short",
         [](auto a, auto b, auto c) {
             return join({firstBytes(a, a.size() / 3), b, c});
         },
         {1, 2},
         &CasioScreenCounts::damaged,
         1},
        {"header cut short",
         [](auto a, auto b, auto c) {
             return join({firstBytes(a, 15), b, c});
         },
         {1, 2},
         &CasioScreenCounts::impossible,
         1},
        {"another kind",
         [](auto a, auto b, auto c) {
             return join({a, {0x0B}, text("TYPQ9 partial update"), b, c});
         },
         {0, 1, 2},
         &CasioScreenCounts::otherKinds,
         1},
        {"another format",
         [&](auto a, auto b, auto c) {
             return join({a, otherFormat, b, c});
         },
         {0, 1, 2},
         &CasioScreenCounts::otherFormats,
         1},
    };
    for (const Spoiled& row : table) {
        for (size_t readSize : {size_t{0}, size_t{7}, size_t{512}}) {
            SCOPED_TRACE(std::string(row.name) + ", reads of " + std::to_string(readSize));
            const CasioScreenCounts counts =
                read(row.stream(frameOf(sent[0]), frameOf(sent[1]), frameOf(sent[2])), readSize);
            ASSERT_EQ(pictures.size(), row.received.size());
            for (size_t i = 0; i < pictures.size(); ++i) {
                EXPECT_TRUE(pictures[i] == screenwire::shown(Format::Rc2, sent[row.received[i]]));
            }
            EXPECT_GE(counts.*row.count, row.atLeast);
        }
    }
    EXPECT_STREQ(read(join({{0x0B}, text("TYP\x01Q"), otherFormat})).otherKind, "TYP?Q");
    EXPECT_STREQ(read(otherFormat).otherFormat, "1RC9");
}

// Fields that cannot be true are dropped at once, never waited for: the frame after them
// arrives although the impossible one announced more bytes than ever come.
TEST_F(ScreenReaderTest, ImpossibleFieldsAreDroppedWithoutWaiting) {
    const Picture small = randomPicture(4, 3, 9);
    const Bytes next = screenwire::frame(Kind::Typz2, Format::Rc2, small);
    const Bytes pixels = screenwire::pixelBytes(Format::Rc2, small);
    struct Lie {
        const char* name;
        Bytes frame;
        int frameArea;
        int pictureArea;
    };
    const int area = CasioScreenReader::screenFrameArea;
    const int room = CasioScreenReader::screenPictureArea;
    const std::vector<Lie> table = {
        {"no width", screenwire::colourFrame(Kind::Typz1, "1RC2", 0, 3, 0, {}), area, room},
        {"no height", screenwire::colourFrame(Kind::Typz1, "1RC2", 4, 0, 0, {}), area, room},
        {"too wide", screenwire::colourFrame(Kind::Typz1, "1RC2", 0xFFFF, 1, 0x1FFFE, {}), area,
         room},
        {"count not the picture's", screenwire::colourFrame(Kind::Typz1, "1RC2", 4, 3, 25, pixels),
         area, room},
        {"count beyond the area",
         screenwire::colourFrame(Kind::Typz2, "1RC9", 4, 3, 0xFFFFFFFF, pixels), area, room},
        {"lower-case digits", join({{0x0B}, text("TYPZ100001a00030004"), text("1RC2")}), area,
         room},
        {"frame area too small",
         screenwire::frame(Kind::Typ01, Format::Monochrome, screenwire::testPattern(Kind::Typ01)),
         1000, room},
        {"picture area too small",
         screenwire::frame(Kind::Typz1, Format::Rc2, randomPicture(5, 3, 1)), area, 4 * 3 * 3},
    };
    for (const Lie& row : table) {
        SCOPED_TRACE(row.name);
        const CasioScreenCounts counts =
            read(join({row.frame, next}), 0, nullptr, row.frameArea, row.pictureArea);
        ASSERT_EQ(pictures.size(), 1u);
        EXPECT_TRUE(pictures[0] == screenwire::shown(Format::Rc2, small));
        EXPECT_GE(counts.impossible, 1u);
    }
}

TEST_F(ScreenReaderTest, EachCheckIsAnsweredOnceAndOnlyTheCheck) {
    const Bytes frame =
        screenwire::frame(Kind::Typ01, Format::Monochrome, randomPicture(128, 64, 10));
    const Bytes lookalike = {0x16, 'C', 'A', 'L', '0', '0', 'D', '1'};
    const Bytes stream =
        join({screenwire::check(), lookalike, screenwire::check(), frame, screenwire::check()});
    for (size_t readSize : {size_t{0}, size_t{3}}) {
        LibusbDouble::clearTransfers();
        const CasioScreenCounts counts = read(stream, readSize, &socket);
        EXPECT_EQ(counts.checks, 3u);
        EXPECT_EQ(counts.checksAnswered, 3u);
        EXPECT_EQ(pictures.size(), 1u);
        EXPECT_EQ(LibusbDouble::bytesSent(),
                  join({screenwire::checkAnswer(), screenwire::checkAnswer(),
                        screenwire::checkAnswer()}));
    }
    const CasioScreenCounts unanswerable = read(stream);
    EXPECT_EQ(unanswerable.checks, 3u);
    EXPECT_EQ(unanswerable.checksAnswered, 0u);
}

} // namespace
