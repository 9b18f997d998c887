#pragma once

#include <cstdint>
#include <sys/time.h>

namespace veltro
{

// Wall-clock milliseconds. Both sides use it for lock deadlines and activity
// times; gettimeofday is the one clock call allowed on the audio threads.
inline int64_t millisecondClock() noexcept
{
    timeval tv {};
    gettimeofday (&tv, nullptr);
    return static_cast<int64_t> (tv.tv_sec) * 1000 + static_cast<int64_t> (tv.tv_usec) / 1000;
}

} // namespace veltro
