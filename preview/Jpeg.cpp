// JPEG textures through libjpeg. libjpeg reports errors by calling back, and the callback must
// not return: it long-jumps back to the decoder below, whose frames between the jump and its
// target hold no C++ objects.

#include <cstddef>
#include <cstdio>

// jpeglib.h uses FILE and size_t without declaring them: it comes after <cstdio>.
#include <jpeglib.h>

#include <csetjmp>
#include <stdexcept>

#include "preview/Preview.hpp"

namespace vex::preview {

namespace {

struct ErrorManager {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
};

extern "C" void onJpegError(j_common_ptr info) {
    auto* e = reinterpret_cast<ErrorManager*>(info->err);
    (*info->err->format_message)(info, e->message);
    std::longjmp(e->jump, 1);
}

// Decodes into `out`; false with the message in `error` (a buffer of JMSG_LENGTH_MAX bytes).
bool decode(std::FILE* f, Image& out, char* error) {
    jpeg_decompress_struct info;
    ErrorManager errors;
    info.err = jpeg_std_error(&errors.pub);
    errors.pub.error_exit = onJpegError;
    errors.message[0] = '\0';
    jpeg_create_decompress(&info);
    if (setjmp(errors.jump)) {
        std::snprintf(error, JMSG_LENGTH_MAX, "%s", errors.message);
        jpeg_destroy_decompress(&info);
        return false;
    }
    jpeg_stdio_src(&info, f);
    jpeg_read_header(&info, TRUE);
    if (info.image_width < 1 || info.image_height < 1 || info.image_width > kMaxSide ||
        info.image_height > kMaxSide) {
        std::snprintf(error, JMSG_LENGTH_MAX, "image of %ux%u pixels is too large",
                      info.image_width, info.image_height);
        jpeg_destroy_decompress(&info);
        return false;
    }
    info.out_color_space = JCS_RGB;
    jpeg_start_decompress(&info);
    out.width = static_cast<int>(info.output_width);
    out.height = static_cast<int>(info.output_height);
    out.rgb.resize(3 * static_cast<size_t>(out.width) * out.height);
    while (info.output_scanline < info.output_height) {
        JSAMPROW row = out.rgb.data() + 3 * static_cast<size_t>(info.output_scanline) * out.width;
        jpeg_read_scanlines(&info, &row, 1);
    }
    jpeg_finish_decompress(&info);
    // Corrupt data is only a warning to libjpeg; a texture with made-up pixels is not used.
    const bool clean = errors.pub.num_warnings == 0;
    if (!clean) std::snprintf(error, JMSG_LENGTH_MAX, "corrupt JPEG data");
    jpeg_destroy_decompress(&info);
    return clean;
}

}  // namespace

Image readJpeg(const std::string& path) {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) throw std::runtime_error(path + ": cannot open");
    Image image;
    char error[JMSG_LENGTH_MAX] = "";
    const bool ok = decode(f, image, error);
    std::fclose(f);
    if (!ok) throw std::runtime_error(path + ": " + error);
    return image;
}

Image readImage(const std::string& path) {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) throw std::runtime_error(path + ": cannot open");
    unsigned char magic[3] = {0, 0, 0};
    const size_t n = std::fread(magic, 1, 3, f);
    std::fclose(f);
    if (n == 3 && magic[0] == 0xFF && magic[1] == 0xD8 && magic[2] == 0xFF) return readJpeg(path);
    return readPng(path);
}

}  // namespace vex::preview
