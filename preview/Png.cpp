// PNG files through libpng's simplified interface, which keeps libpng's longjmp error
// handling inside the library.
#include <png.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <stdexcept>

#include "preview/Preview.hpp"

namespace vex::preview {

std::string encodePng(const Image& image) {
    if (image.width < 1 || image.height < 1 || image.width > kMaxSide || image.height > kMaxSide ||
        image.rgb.size() != 3 * static_cast<size_t>(image.width) * image.height)
        throw std::runtime_error("cannot encode an image of " + std::to_string(image.width) + "x" +
                                 std::to_string(image.height) + " pixels");
    png_image png{};
    png.version = PNG_IMAGE_VERSION;
    png.width = static_cast<png_uint_32>(image.width);
    png.height = static_cast<png_uint_32>(image.height);
    png.format = PNG_FORMAT_RGB;
    png_alloc_size_t size = 0;
    if (!png_image_write_to_memory(&png, nullptr, &size, 0, image.rgb.data(), 0, nullptr))
        throw std::runtime_error(std::string("PNG encoding failed: ") + png.message);
    std::string bytes(size, '\0');
    if (!png_image_write_to_memory(&png, bytes.data(), &size, 0, image.rgb.data(), 0, nullptr))
        throw std::runtime_error(std::string("PNG encoding failed: ") + png.message);
    bytes.resize(size);
    return bytes;
}

void writePng(const Image& image, const std::string& path) {
    const std::string bytes = encodePng(image);
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr)
        throw std::runtime_error("cannot create " + path + ": " + std::strerror(errno));
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    const int error = errno;
    if (std::fclose(f) != 0 || !written)
        throw std::runtime_error("cannot write " + path + ": " +
                                 std::strerror(written ? errno : error));
}

Image readPng(const std::string& path) {
    png_image png{};
    png.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&png, path.c_str()))
        throw std::runtime_error(path + ": " + png.message);
    if (png.width < 1 || png.height < 1 || png.width > kMaxSide || png.height > kMaxSide) {
        png_image_free(&png);
        throw std::runtime_error(path + ": image of " + std::to_string(png.width) + "x" +
                                 std::to_string(png.height) + " pixels is too large");
    }
    png.format = PNG_FORMAT_RGB;
    Image image;
    image.width = static_cast<int>(png.width);
    image.height = static_cast<int>(png.height);
    image.rgb.resize(PNG_IMAGE_SIZE(png));
    // Transparent pixels composite onto the background colour.
    png_color background{kBackground.r, kBackground.g, kBackground.b};
    if (!png_image_finish_read(&png, &background, image.rgb.data(), 0, nullptr)) {
        png_image_free(&png);
        throw std::runtime_error(path + ": " + png.message);
    }
    return image;
}

}  // namespace vex::preview
