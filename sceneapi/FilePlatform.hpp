// Platform seam for the file target: the only place that knows how a UTF-8 path
// is opened and how standard output is taken over. POSIX version in FilePlatform_posix.cpp.
#pragma once

#include <cstdio>
#include <string>

namespace vex::platform {

// Opens a UTF-8 path; null with errno set on failure (EILSEQ for a path that is not UTF-8).
FILE* openUtf8(const std::string& path, const char* mode);

// Returns a binary stream on a duplicate of standard output and points the standard
// output descriptor at standard error; text still in stdout's buffer goes there too.
// Failures of the redirection are reported with perror and otherwise ignored; null when
// no stream could be made.
FILE* takeOverStandardOutput();

}  // namespace vex::platform
