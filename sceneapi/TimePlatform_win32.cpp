#include <windows.h>

#include <climits>

#include "sceneapi/TimePlatform.hpp"

namespace vex::platform {

bool formatLocalTimeOfDay(char* buffer, size_t size) {
    if (buffer == nullptr || size == 0 || size > INT_MAX) return false;
    return GetTimeFormatA(LOCALE_USER_DEFAULT, 0, nullptr, "HH':'mm':'ss", buffer,
                          static_cast<int>(size)) != 0;
}

uint64_t tickCountMilliseconds() {
    // The 64-bit count: the 32-bit one wraps after 49.7 days of uptime, and a difference
    // across the wrap would put a wrong millisecond into the log.
    return GetTickCount64();
}

void sleepMilliseconds(int ms) {
    if (ms > 0) Sleep(static_cast<DWORD>(ms));
}

}  // namespace vex::platform
