#include <time.h>

#include <chrono>
#include <thread>

#include "sceneapi/TimePlatform.hpp"

namespace vex::platform {

bool formatLocalTimeOfDay(char* buffer, size_t size) {
    if (buffer == nullptr || size == 0) return false;
    struct timespec now {};
    if (::clock_gettime(CLOCK_REALTIME, &now) != 0) return false;
    struct tm local {};
    if (::localtime_r(&now.tv_sec, &local) == nullptr) return false;
    return ::strftime(buffer, size, "%H:%M:%S", &local) != 0;
}

uint64_t tickCountMilliseconds() {
    struct timespec now {};
    if (::clock_gettime(CLOCK_MONOTONIC, &now) != 0) return 0;
    return static_cast<uint64_t>(now.tv_sec) * 1000u +
           static_cast<uint64_t>(now.tv_nsec) / 1000000u;
}

void sleepMilliseconds(int ms) {
    // sleep_for resumes the wait itself when a signal interrupts it.
    if (ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

}  // namespace vex::platform
