#include "PngWriter.h"

#include "PictureScale.h"

#include <png.h>
#include <vector>

namespace {

// libpng's way out of a failure is a long jump back to writeImage; the caller sees false and
// errno. Nothing is printed: the command says what could not be written.
[[noreturn]] void onError(png_structp png, png_const_charp /*message*/) {
    png_longjmp(png, 1);
}

void onWarning(png_structp /*png*/, png_const_charp /*message*/) {}

// No object with a destructor lives here: a long jump must not skip one.
bool writeImage(png_structp png, png_infop info, FILE* file, const CasioScreenPicture& picture,
                int scale, unsigned char* row) {
    if (setjmp(png_jmpbuf(png)) != 0) {
        return false;
    }
    png_init_io(png, file);
    png_set_IHDR(png, info, static_cast<png_uint_32>(picture.width * scale),
                 static_cast<png_uint_32>(picture.height * scale), 8, PNG_COLOR_TYPE_RGB,
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    for (int y = 0; y < picture.height; ++y) {
        PictureScale::widenRow(picture, y, scale, row);
        for (int copy = 0; copy < scale; ++copy) {
            png_write_row(png, row);
        }
    }
    png_write_end(png, nullptr);
    return true;
}

} // namespace

bool PngWriter::write(FILE* file, const CasioScreenPicture& picture, int scale) {
    if (!PictureScale::isValid(scale) || picture.width < 1 || picture.height < 1) {
        return false;
    }
    std::vector<unsigned char> row(static_cast<size_t>(picture.width) * scale * 3);
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, onError, onWarning);
    png_infop info = png != nullptr ? png_create_info_struct(png) : nullptr;
    const bool written = info != nullptr && writeImage(png, info, file, picture, scale, row.data());
    png_destroy_write_struct(&png, &info);
    return written && fflush(file) == 0;
}
