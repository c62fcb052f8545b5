// Image files where libpng and libjpeg are not available (the Windows build): every image
// file operation fails with a message that says so, and pictures are refused as unwritable.
#include <stdexcept>

#include "preview/Preview.hpp"

namespace vex::preview {

namespace {

[[noreturn]] void unavailable(const std::string& what) {
    throw std::runtime_error(what + ": PNG and JPEG files are not available in this build");
}

}  // namespace

std::string encodePng(const Image&) {
    unavailable("encoding a picture");
}
void writePng(const Image&, const std::string& path) {
    unavailable(path);
}
Image readPng(const std::string& path) {
    unavailable(path);
}
Image readJpeg(const std::string& path) {
    unavailable(path);
}
Image readImage(const std::string& path) {
    unavailable(path);
}

}  // namespace vex::preview
