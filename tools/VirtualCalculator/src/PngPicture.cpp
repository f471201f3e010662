#include "PngPicture.h"

#include <png.h>

std::optional<screenwire::Picture> readPngPicture(const std::string& path, unsigned largestSide,
                                                  std::string& error) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (png_image_begin_read_from_file(&image, path.c_str()) == 0) {
        error = image.message;
        return std::nullopt;
    }
    if (image.width > largestSide || image.height > largestSide) {
        png_image_free(&image);
        error = std::to_string(image.width) + " x " + std::to_string(image.height) +
                " is larger than a screen";
        return std::nullopt;
    }
    image.format = PNG_FORMAT_RGB;
    screenwire::Picture picture{image.width, image.height, Bytes(PNG_IMAGE_SIZE(image))};
    const png_color black{0, 0, 0};
    if (png_image_finish_read(&image, &black, picture.rgb.data(), 0, nullptr) == 0) {
        error = image.message;
        return std::nullopt;
    }
    return picture;
}
