#include <unistd.h>

#include <cerrno>

#include "sceneapi/FilePlatform.hpp"

namespace vex::platform {
namespace {

bool validUtf8(const std::string& s) {
    size_t i = 0;
    const size_t n = s.size();
    while (i < n) {
        const auto c = static_cast<unsigned char>(s[i]);
        size_t extra;
        unsigned min;
        unsigned cp;
        if (c < 0x80) {
            ++i;
            continue;
        } else if ((c & 0xE0) == 0xC0) {
            extra = 1, min = 0x80, cp = c & 0x1F;
        } else if ((c & 0xF0) == 0xE0) {
            extra = 2, min = 0x800, cp = c & 0x0F;
        } else if ((c & 0xF8) == 0xF0) {
            extra = 3, min = 0x10000, cp = c & 0x07;
        } else {
            return false;
        }
        if (n - i <= extra) return false;
        for (size_t k = 1; k <= extra; ++k) {
            const auto d = static_cast<unsigned char>(s[i + k]);
            if ((d & 0xC0) != 0x80) return false;
            cp = (cp << 6) | (d & 0x3F);
        }
        if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
        i += extra + 1;
    }
    return true;
}

}  // namespace

FILE* openUtf8(const std::string& path, const char* mode) {
    // The path is handed to a wide-character open elsewhere; one that is not UTF-8
    // would be converted lossily and could name another file, so it is refused.
    if (!validUtf8(path) || path.find('\0') != std::string::npos) {
        errno = EILSEQ;
        return nullptr;
    }
    return std::fopen(path.c_str(), mode);
}

FILE* takeOverStandardOutput() {
    const int copy = ::dup(STDOUT_FILENO);
    if (copy < 0) return nullptr;
    FILE* stream = ::fdopen(copy, "wb");
    if (stream == nullptr) {
        const int saved = errno;
        ::close(copy);
        errno = saved;
        return nullptr;
    }
    std::fflush(stdout);
    if (::dup2(STDERR_FILENO, STDOUT_FILENO) < 0) std::perror("duplicating stderr to stdout");
    // POSIX streams have no text mode, so there is nothing to switch to binary.
    return stream;
}

}  // namespace vex::platform
