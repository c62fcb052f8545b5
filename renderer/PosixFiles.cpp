#include "renderer/PosixFiles.hpp"

#include <unistd.h>

#include <cerrno>

namespace vex::raymint {

bool writeAll(int fd, const void* data, size_t n) {
    const char* bytes = static_cast<const char*>(data);
    while (n > 0) {
        const ssize_t done = ::write(fd, bytes, n);
        if (done < 0 && errno == EINTR) continue;
        if (done <= 0) {
            if (done == 0) errno = EIO;
            return false;
        }
        bytes += done;
        n -= static_cast<size_t>(done);
    }
    return true;
}

}  // namespace vex::raymint
