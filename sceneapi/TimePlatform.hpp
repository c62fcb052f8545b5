// Platform seam for time: the only place that knows how the local time of day and a
// millisecond tick are read, and the only place that sleeps. POSIX version in
// TimePlatform_posix.cpp.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vex::platform {

// Writes the local time of day as "HH:MM:SS" (24-hour) with a terminating NUL; false
// when the clock cannot be read or the text does not fit.
bool formatLocalTimeOfDay(char* buffer, size_t size);

// Milliseconds of a clock that never jumps with the wall clock.
uint64_t tickCountMilliseconds();

// Blocks the calling thread for `ms` milliseconds (nothing when `ms` is not positive),
// also when signals interrupt the wait.
void sleepMilliseconds(int ms);

}  // namespace vex::platform
