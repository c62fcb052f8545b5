// Writing to file descriptors without losing bytes to short writes or signals.
#pragma once

#include <cstddef>

namespace vex::raymint {

// Writes all `n` bytes, retrying short and interrupted writes; false with errno set otherwise.
bool writeAll(int fd, const void* data, size_t n);

}  // namespace vex::raymint
