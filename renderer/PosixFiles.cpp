#include "renderer/PosixFiles.hpp"

#include "renderer/InstanceRecords.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

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

bool renameOver(const std::string& temp, const std::string& path, std::string& error) {
    if (std::rename(temp.c_str(), path.c_str()) == 0) return true;
    error = "cannot rename " + temp + " to " + path + ": " + std::strerror(errno);
    ::unlink(temp.c_str());
    return false;
}

bool writeAtomically(const std::string& path, const std::string& temp, const std::string& bytes,
                     mode_t mode, std::string& error) {
    const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode);
    if (fd < 0) {
        error = "cannot create " + temp + ": " + std::strerror(errno);
        return false;
    }
    // fchmod: the mode must not depend on the umask (the renderer must stay executable).
    const bool written = writeAll(fd, bytes.data(), bytes.size()) && ::fchmod(fd, mode) == 0;
    const int writeErrno = errno;
    const bool closed = ::close(fd) == 0;
    if (!written || !closed) {
        error = "cannot write " + temp + ": " + std::strerror(written ? errno : writeErrno);
        ::unlink(temp.c_str());
        return false;
    }
    return renameOver(temp, path, error);
}

// The renderer's side of the instance records: only the renderer publishes them.
bool publishRecord(const std::string& folder, const InstanceRecord& record, std::string& error) {
    const std::string final = recordPath(folder, record.processId);
    const std::string temp = folder + "/." + std::to_string(record.processId) + ".tmp";
    return writeAtomically(final, temp, recordText(record), 0644, error);
}

}  // namespace vex::raymint
