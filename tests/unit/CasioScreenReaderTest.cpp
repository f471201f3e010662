// The screen reader over streams the virtual calculator's frame encoder makes: every kind and
// pixel format pixel for pixel, streams spoiled as a cable spoils them, fields that must never
// be trusted, a frame cut at every point, and the check answered once per check.

#include "CasioScreenReader.h"
#include "LibusbDouble.h"
#include "LinkOverDouble.h"
#include "ScreenWire.h"
#include "SocketScreenSource.h"

#include <gtest/gtest.h>
#include <random>
#include <string>
#include <vector>

namespace {

using screenwire::Format;
using screenwire::Kind;
using screenwire::Picture;
using C = CasioScreenCounts;

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

Bytes cut(const Bytes& bytes, size_t from, size_t to) {
    return Bytes(bytes.begin() + static_cast<long>(from), bytes.begin() + static_cast<long>(to));
}

// A stream, the pictures that must come of it, and one count the reader must have made.
struct Row {
    std::string name;
    Bytes stream;
    std::vector<Picture> pictures;
    unsigned long C::*count;
    unsigned long expected;
    int frameArea = CasioScreenReader::screenFrameArea;
    int pictureArea = CasioScreenReader::screenPictureArea;
    // Each plan: the sizes of the reads, the last one repeated; 0 for all the rest at once.
    std::vector<std::vector<size_t>> plans = {{0}, {1}, {7}, {512}};
};

class ScreenReaderTest : public LinkOverDouble, public CasioScreenListener {
protected:
    void pictureReceived(const CasioScreenPicture& shown) override {
        pictures.push_back({static_cast<unsigned>(shown.width), static_cast<unsigned>(shown.height),
                            Bytes(shown.rgb, shown.rgb + shown.width * shown.height * 3)});
    }

    // Reads the stream with a fresh reader whose checks are answered over the double.
    CasioScreenCounts read(const Row& row, const std::vector<size_t>& plan) {
        std::vector<unsigned char> frames(static_cast<size_t>(row.frameArea));
        std::vector<unsigned char> picture(static_cast<size_t>(row.pictureArea));
        pictures.clear();
        LibusbDouble::clearTransfers();
        SocketScreenSource source(&socket);
        CasioScreenReader reader(Buffer(frames.data(), row.frameArea),
                                 Buffer(picture.data(), row.pictureArea), this, &source);
        for (size_t at = 0, read = 0; at < row.stream.size(); ++read) {
            const size_t size = plan[std::min(read, plan.size() - 1)];
            Bytes piece =
                cut(row.stream, at,
                    size == 0 ? row.stream.size() : std::min(row.stream.size(), at + size));
            at += piece.size();
            EXPECT_FALSE(reader.feed(Buffer(piece.data(), static_cast<int>(piece.size()))));
        }
        Bytes answers;
        for (unsigned long i = 0; i < reader.counts().checks; ++i) {
            answers = join({answers, screenwire::checkAnswer()});
        }
        EXPECT_EQ(LibusbDouble::bytesSent(), answers) << "one answer per check, and nothing else";
        return reader.counts();
    }

    std::vector<Picture> pictures;
};

std::vector<Row> everyKindAndFormat() {
    const Picture colour = screenwire::testPattern(Kind::Typz1);
    const std::vector<std::tuple<Kind, Format, Picture>> shots = {
        {Kind::Typ01, Format::Monochrome, screenwire::testPattern(Kind::Typ01)},
        {Kind::Typ01, Format::Monochrome, randomPicture(128, 64, 1)},
        {Kind::Typz1, Format::Rc2, colour},
        {Kind::Typz1, Format::Rc3, colour},
        {Kind::Typz1, Format::Rm2, colour},
        {Kind::Typz2, Format::Rc2, randomPicture(384, 216, 2)},
        {Kind::Typz2, Format::Rc3, randomPicture(13, 5, 3)},
        {Kind::Typz2, Format::Rm2, randomPicture(21, 4, 4)},
    };
    std::vector<Row> rows;
    for (const auto& [kind, format, picture] : shots) {
        const Bytes frame = screenwire::frame(kind, format, picture);
        const Picture shown = screenwire::shown(format, picture);
        const std::string name = screenwire::kindName(kind) + screenwire::formatName(format);
        rows.push_back({name, join({frame, frame}), {shown, shown}, &C::skippedBytes, 0});
    }
    return rows;
}

// Around the frames A, B and C of one picture each, a stream spoiled or lying.
std::vector<Row> spoiledStreams() {
    const std::vector<Picture> sent = {randomPicture(40, 30, 6), randomPicture(40, 30, 7),
                                       randomPicture(40, 30, 8), randomPicture(41, 30, 9),
                                       randomPicture(3, 2, 10)};
    std::vector<Bytes> frame;
    std::vector<Picture> shown;
    for (const Picture& picture : sent) {
        frame.push_back(screenwire::frame(Kind::Typz1, Format::Rc2, picture));
        shown.push_back(screenwire::shown(Format::Rc2, picture));
    }
    const Bytes &a = frame[0], &b = frame[1], &c = frame[2], &wide = frame[3];
    Bytes damaged = b;
    damaged[b.size() / 2] ^= 0x01;
    const Bytes lure = join({{0x0B}, text("TYPZ1000"), {0x16, 'C', 'A', 0x0B, 'T', 0x00}});
    const Bytes check = screenwire::check();
    const Bytes lookalike = {0x16, 'C', 'A', 'L', '0', '0', 'D', '1'};
    const Bytes otherFormat = screenwire::colourFrame(Kind::Typz1, "1RC9", 2, 2, 4, {1, 2, 3, 4});
    const Bytes pixels = screenwire::pixelBytes(Format::Rc2, sent[0]);
    const auto lie = [](uint32_t width, uint32_t height, uint32_t count, const Bytes& pixels) {
        return screenwire::colourFrame(Kind::Typz2, "1RC2", width, height, count, pixels);
    };
    const Picture &sa = shown[0], &sb = shown[1], &sc = shown[2];
    std::vector<Row> rows = {
        {"stray bytes", join({lure, a, lure, b, c, lure}), {sa, sb, sc}, &C::impossible, 3},
        {"damaged", join({a, damaged, c}), {sa, sc}, &C::damaged, 1},
        {"cut short", join({cut(a, 0, a.size() / 3), b, c}), {sb, sc}, &C::damaged, 1},
        {"header cut short", join({cut(a, 0, 15), b, c}), {sb, sc}, &C::impossible, 1},
        {"another kind", join({a, {0x0B}, text("TYPQ9 news"), b}), {sa, sb}, &C::otherKinds, 1},
        {"another format", join({a, otherFormat, b}), {sa, sb}, &C::otherFormats, 1},
        {"checks", join({check, lookalike, check, a, check}), {sa}, &C::checks, 3},
        {"no width", join({lie(0, 3, 0, {}), a}), {sa}, &C::impossible, 1},
        {"no height", join({lie(4, 0, 0, {}), a}), {sa}, &C::impossible, 1},
        {"too wide", join({lie(0xFFFF, 1, 0x1FFFE, {}), a}), {sa}, &C::impossible, 1},
        {"count not the picture's", join({lie(40, 30, 2401, pixels), a}), {sa}, &C::impossible, 1},
        {"count beyond any area", join({lie(40, 30, ~0u, pixels), a}), {sa}, &C::impossible, 1},
        {"lower-case", join({{0x0B}, text("TYPZ10012c0001e0028"), a}), {sa}, &C::impossible, 1},
        {"frame area small", join({wide, a}), {sa}, &C::impossible, 1, int(a.size())},
        {"picture area small", join({wide, a}), {sa}, &C::impossible, 1, 20000, 40 * 30 * 3},
        {"check and small frame", join({check, frame[4]}), {shown[4]}, &C::checksAnswered, 1},
    };
    rows.back().plans.clear();
    for (size_t split = 0; split <= rows.back().stream.size(); ++split) {
        rows.back().plans.push_back({split, 0});
    }
    return rows;
}

TEST_F(ScreenReaderTest, EachStreamGivesItsPicturesPixelForPixelHoweverItIsRead) {
    std::vector<Row> table = everyKindAndFormat();
    for (Row& row : spoiledStreams()) {
        table.push_back(std::move(row));
    }
    for (const Row& row : table) {
        for (const std::vector<size_t>& plan : row.plans) {
            SCOPED_TRACE(row.name + ", reads of " + std::to_string(plan[0]));
            const CasioScreenCounts counts = read(row, plan);
            EXPECT_TRUE(pictures == row.pictures);
            EXPECT_EQ(counts.*row.count, row.expected);
        }
    }
    const Row named = {
        "names", join({{0x0B}, text("TYP\x01Q"), spoiledStreams()[5].stream}), {}, &C::pictures, 0};
    EXPECT_STREQ(read(named, {0}).otherKind, "TYP?Q");
    EXPECT_STREQ(read(named, {0}).otherFormat, "1RC9");
}

} // namespace
