#include <unistd.h>

#include <cerrno>

#include "sceneapi/FilePlatform.hpp"
#include "sceneapi/LogPlatform.hpp"

namespace vex::platform {
FILE* openUtf8(const std::string& path, const char* mode) {
    // The path is handed to a wide-character open elsewhere; one that is not UTF-8
    // would be converted lossily and could name another file, so it is refused.
    if (!wideFromUtf8(path) || path.find('\0') != std::string::npos) {
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
    // Only after the redirection: text printed earlier and still in stdout's buffer then
    // goes to standard error instead of ahead of the scene.
    if (::dup2(STDERR_FILENO, STDOUT_FILENO) < 0) std::perror("duplicating stderr to stdout");
    std::fflush(stdout);
    // POSIX streams have no text mode, so there is nothing to switch to binary.
    return stream;
}

}  // namespace vex::platform
