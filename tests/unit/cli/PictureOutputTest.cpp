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

struct Shot {
    int width;
    int height;
    Pixels rgb;
    CasioScreenPicture view() const { return {width, height, rgb.data()}; }
};

Shot randomShot(int width, int height, unsigned seed) {
    std::mt19937 generator(seed);
    Shot shot{width, height, Pixels(static_cast<size_t>(width) * height * 3)};
    for (unsigned char& byte : shot.rgb) {
        byte = static_cast<unsigned char>(generator());
    }
    return shot;
}

// Everything written to `file`, from its start.
Pixels contents(FILE* file) {
    Pixels bytes(static_cast<size_t>(ftell(file)));
    rewind(file);
    EXPECT_EQ(fread(bytes.data(), 1, bytes.size(), file), bytes.size());
    return bytes;
}

TEST(PngWriterTest, WritesEveryPixelAsASquareOfTheScale) {
    for (int scale : {1, 3, 8}) {
        SCOPED_TRACE("scale " + std::to_string(scale));
        const Shot shot = randomShot(7, 5, static_cast<unsigned>(scale));
        FILE* file = tmpfile();
        ASSERT_TRUE(PngWriter::write(file, shot.view(), scale));
        const Pixels png = contents(file);
        fclose(file);

        png_image image{};
        image.version = PNG_IMAGE_VERSION;
        ASSERT_NE(png_image_begin_read_from_memory(&image, png.data(), png.size()), 0);
        image.format = PNG_FORMAT_RGB;
        Pixels read(PNG_IMAGE_SIZE(image));
        ASSERT_NE(png_image_finish_read(&image, nullptr, read.data(), 0, nullptr), 0);
        ASSERT_EQ(image.width, 7u * scale);
        ASSERT_EQ(image.height, 5u * scale);
        for (size_t y = 0; y < image.height; ++y) {
            for (size_t x = 0; x < image.width; ++x) {
                const size_t source = ((y / scale) * 7 + x / scale) * 3;
                const size_t target = (y * image.width + x) * 3;
                ASSERT_EQ(Pixels(&read[target], &read[target + 3]),
                          Pixels(&shot.rgb[source], &shot.rgb[source + 3]))
                    << x << "," << y;
            }
        }
    }
}

TEST(PngWriterTest, RefusesAScaleOutOfRangeAndTellsAFailedWrite) {
    const Shot shot = randomShot(4, 4, 1);
    FILE* file = tmpfile();
    EXPECT_FALSE(PngWriter::write(file, shot.view(), 0));
    EXPECT_FALSE(PngWriter::write(file, shot.view(), 9));
    EXPECT_EQ(ftell(file), 0);
    fclose(file);
    FILE* full = fopen("/dev/full", "w");
    ASSERT_NE(full, nullptr);
    errno = 0;
    EXPECT_FALSE(PngWriter::write(full, shot.view(), 2));
    EXPECT_EQ(errno, ENOSPC);
    fclose(full);
}

// Y, Cb and Cr of stream pixel (x, y) in the frame that starts at `frame`.
Pixels yuvAt(const Pixels& stream, size_t frame, int width, int height, int x, int y) {
    const size_t plane = static_cast<size_t>(width) * height;
    const size_t at = frame + 6 + static_cast<size_t>(y) * width + x;
    return {stream[at], stream[at + plane], stream[at + 2 * plane]};
}

TEST(Y4mWriterTest, WritesTheHeaderOnceThenWholeFramesOfTheScaledScreen) {
    // White, black, a grey and red over a 2 x 2 screen; then a 1 x 1 picture, bordered.
    const Shot screen{2, 2, {255, 255, 255, 0, 0, 0, 170, 170, 170, 255, 0, 0}};
    const Shot small{1, 1, {255, 255, 255}};
    const Pixels white = {235, 128, 128}, black = {16, 128, 128}, grey = {162, 128, 128},
                 red = {82, 90, 240};
    constexpr int scale = 3;
    FILE* file = tmpfile();
    Y4mWriter writer(file, 2, 2, scale, 30);
    EXPECT_EQ(writer.header(), "YUV4MPEG2 W6 H6 F30:1 Ip A1:1 C444\n");
    EXPECT_EQ(writer.frameSize(), 6u + 6 * 6 * 3);
    ASSERT_TRUE(writer.writeFrame(screen.view()));
    ASSERT_TRUE(writer.writeFrame(small.view()));
    const Pixels stream = contents(file);
    fclose(file);

    const size_t headerSize = writer.header().size();
    ASSERT_EQ(stream.size(), headerSize + 2 * writer.frameSize());
    EXPECT_EQ(std::string(stream.begin(), stream.begin() + headerSize), writer.header());
    const size_t second = headerSize + writer.frameSize();
    for (size_t frame : {headerSize, second}) {
        EXPECT_EQ(std::string(stream.begin() + frame, stream.begin() + frame + 6), "FRAME\n");
    }
    const std::vector<Pixels> firstFrame = {white, black, grey, red};
    for (int y = 0; y < 6; ++y) {
        for (int x = 0; x < 6; ++x) {
            EXPECT_EQ(yuvAt(stream, headerSize, 6, 6, x, y),
                      firstFrame[(y / scale) * 2 + x / scale])
                << x << "," << y;
            EXPECT_EQ(yuvAt(stream, second, 6, 6, x, y), x < scale && y < scale ? white : black)
                << x << "," << y;
        }
    }
}

} // namespace
