// tolvane's pictures of the screen: PNG files read back with libpng, and YUV4MPEG2 frames,
// each pixel enlarged to a square of the scale.

#include "PngWriter.h"
#include "Y4mWriter.h"

#include <cerrno>
#include <cstdio>
#include <gtest/gtest.h>
#include <png.h>
#include <random>
#include <vector>

namespace {

using Pixels = std::vector<unsigned char>;

// Everything written to `file`, which is then closed.
Pixels contents(FILE* file) {
    Pixels bytes(static_cast<size_t>(ftell(file)));
    rewind(file);
    EXPECT_EQ(fread(bytes.data(), 1, bytes.size(), file), bytes.size());
    fclose(file);
    return bytes;
}

TEST(PngWriterTest, WritesEveryPixelAsASquareOfTheScale) {
    std::mt19937 generator(7);
    Pixels rgb(7 * 5 * 3);
    for (unsigned char& byte : rgb) {
        byte = static_cast<unsigned char>(generator());
    }
    for (size_t scale : {1, 3, 8}) {
        FILE* file = tmpfile();
        ASSERT_TRUE(PngWriter::write(file, {7, 5, rgb.data()}, static_cast<int>(scale)));
        const Pixels png = contents(file);
        png_image image{};
        image.version = PNG_IMAGE_VERSION;
        ASSERT_NE(png_image_begin_read_from_memory(&image, png.data(), png.size()), 0);
        image.format = PNG_FORMAT_RGB;
        Pixels read(PNG_IMAGE_SIZE(image));
        ASSERT_NE(png_image_finish_read(&image, nullptr, read.data(), 0, nullptr), 0);
        ASSERT_TRUE(image.width == 7 * scale && image.height == 5 * scale) << image.width;
        for (size_t y = 0; y < image.height; ++y) {
            for (size_t x = 0; x < image.width; ++x) {
                const size_t at = (y * image.width + x) * 3, from = (y / scale * 7 + x / scale) * 3;
                ASSERT_EQ(Pixels(&read[at], &read[at + 3]), Pixels(&rgb[from], &rgb[from + 3]))
                    << x << "," << y << " at scale " << scale;
            }
        }
    }
    FILE* file = tmpfile();
    EXPECT_FALSE(PngWriter::write(file, {7, 5, rgb.data()}, 0));
    EXPECT_FALSE(PngWriter::write(file, {7, 5, rgb.data()}, 9));
    EXPECT_EQ(contents(file).size(), 0u) << "nothing written at a scale out of range";
    FILE* full = fopen("/dev/full", "w");
    errno = 0;
    EXPECT_FALSE(PngWriter::write(full, {7, 5, rgb.data()}, 2));
    EXPECT_EQ(errno, ENOSPC);
    fclose(full);
}

TEST(Y4mWriterTest, WritesTheHeaderOnceThenWholeFramesOfTheScaledScreen) {
    // White, black, a grey and red on a 2 x 2 screen; then a 1 x 1 picture, bordered.
    const Pixels screen = {255, 255, 255, 0, 0, 0, 170, 170, 170, 255, 0, 0};
    const Pixels white = {235, 128, 128}, black = {16, 128, 128};
    const std::vector<Pixels> shown = {white, black, {162, 128, 128}, {82, 90, 240}};
    constexpr int scale = 3;
    FILE* file = tmpfile();
    Y4mWriter writer(file, 2, 2, scale, 30);
    const std::string header = writer.header();
    EXPECT_EQ(header, "YUV4MPEG2 W6 H6 F30:1 Ip A1:1 C444\n");
    EXPECT_EQ(writer.frameSize(), 6u + 6 * 6 * 3);
    ASSERT_TRUE(writer.writeFrame({2, 2, screen.data()}));
    ASSERT_TRUE(writer.writeFrame({1, 1, screen.data()}));
    const Pixels stream = contents(file);
    ASSERT_EQ(stream.size(), header.size() + 2 * writer.frameSize());
    const size_t frames[] = {header.size(), header.size() + writer.frameSize()};
    EXPECT_EQ(std::string(stream.begin(), stream.begin() + frames[0]), header) << "once";
    for (size_t frame : frames) {
        EXPECT_EQ(std::string(stream.begin() + frame, stream.begin() + frame + 6), "FRAME\n");
    }
    // The planes are Y, then Cb, then Cr, 6 x 6 bytes each.
    const auto yuvAt = [&](size_t frame, size_t x, size_t y) {
        const size_t at = frame + 6 + y * 6 + x;
        return Pixels{stream[at], stream[at + 36], stream[at + 72]};
    };
    for (size_t y = 0; y < 6; ++y) {
        for (size_t x = 0; x < 6; ++x) {
            EXPECT_EQ(yuvAt(frames[0], x, y), shown[(y / scale) * 2 + x / scale]) << x << "," << y;
            EXPECT_EQ(yuvAt(frames[1], x, y), x < 3 && y < 3 ? white : black) << x << "," << y;
        }
    }
}

} // namespace
