// Writing files without losing bytes to short writes or signals, and without readers ever
// seeing half a file.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <string>

namespace vex::raymint {

// Writes all `n` bytes, retrying short and interrupted writes; false with errno set otherwise.
bool writeAll(int fd, const void* data, size_t n);

// Renames the written file `temp` over `path`; on failure removes `temp` and sets `error`.
bool renameOver(const std::string& temp, const std::string& path, std::string& error);

// Replaces `path` with `bytes` (permissions `mode`) through the file `temp` in the same folder
// and a rename, so a reader sees the old file or the whole new one.
bool writeAtomically(const std::string& path, const std::string& temp, const std::string& bytes,
                     mode_t mode, std::string& error);

}  // namespace vex::raymint
