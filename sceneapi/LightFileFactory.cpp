#include "sceneapi/LightFileFactory.hpp"

#include <cerrno>
#include <stdexcept>

#include "sceneapi/FilePlatform.hpp"

namespace vex {

LightFileFactory::LightFileFactory(const std::string& path) {
    stream_ = path == "-" ? platform::takeOverStandardOutput() : platform::openUtf8(path, "wb+");
    if (stream_ == nullptr) {
        std::perror("opening file");
        throw std::runtime_error("could not open file: \"" + path + "\"");
    }
    try {
        writer_ = new vexScene_api_file(stream_, true);
    } catch (...) {
        // No destructor runs for a target that was never made: the stream is closed here.
        std::fclose(stream_);
        stream_ = nullptr;
        throw;
    }
}

LightFileFactory::~LightFileFactory() {
    if (!finish()) std::perror("closing file");
}

vexScene_api* LightFileFactory::scene_api() {
    return writer_;
}

void LightFileFactory::begin(vexSceneapi_oo&) {
    static const char* const kHeader[] = {
        "//---corvan:dal:7---\n",
        "//---import:dal:1---\n",
        "//---id:1---\n",
        "// This is a RayMint scene file\n\n",
    };
    if (writer_ == nullptr) return;
    for (const char* text : kHeader) {
        char buffer[4096];
        std::snprintf(buffer, sizeof buffer, "%s", text);
        writer_->print_formatted("%s", buffer);
    }
}

bool LightFileFactory::finish() {
    int lost = 0;
    if (writer_ != nullptr) {
        writer_->flush();
        lost = writer_->writeError();
        delete writer_;
        writer_ = nullptr;
    }
    if (stream_ == nullptr) return lost == 0;
    // A full disk or an I/O error may surface in any earlier write or only in the
    // final flush; either way the file is short and the caller must know.
    if (lost == 0 && std::ferror(stream_)) lost = errno ? errno : EIO;
    const int closed = std::fclose(stream_);
    const int closeErrno = errno;
    stream_ = nullptr;
    if (closed != 0 && lost == 0) lost = closeErrno ? closeErrno : EIO;
    if (lost == 0) return true;
    errno = lost;
    return false;
}

void LightFileFactory::close() {
    if (!finish()) {
        std::perror("closing file");
        throw std::runtime_error("could not close file");
    }
}

}  // namespace vex
