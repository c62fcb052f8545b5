// Platform seam for starting the renderer: the only place that creates processes.
// POSIX version in ProcessPlatform_posix.cpp.
#pragma once

#include <string>

namespace vex::platform {

// Starts the executable at `path` with no arguments, the caller's environment and
// current directory, and none of the caller's open files, detached so that the caller
// never has to wait for it. True when the executable was started.
bool startDetachedProcess(const std::wstring& path);

// The id of the calling process.
unsigned long currentProcessId();

}  // namespace vex::platform
