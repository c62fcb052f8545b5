#include <fcntl.h>
#include <io.h>

#include <cerrno>
#include <cstdio>

#include "sceneapi/FilePlatform.hpp"
#include "sceneapi/LogPlatform.hpp"

namespace vex::platform {

FILE* openUtf8(const std::string& path, const char* mode) {
    // A path that is not UTF-8 would be converted lossily and could name another file.
    const auto widePath = wideFromUtf8(path);
    const auto wideMode = wideFromUtf8(mode);
    if (!widePath || !wideMode || path.find('\0') != std::string::npos) {
        errno = EILSEQ;
        return nullptr;
    }
    return _wfopen(widePath->c_str(), wideMode->c_str());
}

FILE* takeOverStandardOutput() {
    const int copy = _dup(_fileno(stdout));
    if (copy < 0) return nullptr;
    FILE* stream = _fdopen(copy, "wb");
    if (stream == nullptr) {
        const int saved = errno;
        _close(copy);
        errno = saved;
        return nullptr;
    }
    // Not flushed first: what the process printed before belongs on standard error too.
    if (_dup2(_fileno(stderr), _fileno(stdout)) < 0) std::perror("duplicating stderr to stdout");
    // Binary array blocks must not meet line-end translation.
    if (_setmode(_fileno(stream), _O_BINARY) == -1) std::perror("setting binary mode on file");
    return stream;
}

}  // namespace vex::platform
