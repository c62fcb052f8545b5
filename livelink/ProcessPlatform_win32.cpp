#include <windows.h>

#include "livelink/ProcessPlatform.hpp"

namespace vex::platform {

static_assert(sizeof(STARTUPINFOW) == 104, "the start-up record of a 64-bit process");

bool startDetachedProcess(const std::wstring& path) {
    if (path.empty() || path.find(L'\0') != std::wstring::npos) return false;
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    // No command line and no inherited handles; the renderer is never waited for.
    if (!CreateProcessW(path.c_str(), nullptr, nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process)) {
        return false;
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return true;
}

unsigned long currentProcessId() {
    return GetCurrentProcessId();
}

}  // namespace vex::platform
