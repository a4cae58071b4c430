#pragma once
// The millisecond tick: a monotonic clock kept as a wrapping unsigned 32-bit
// value. Time limits compare unsigned 32-bit differences of ticks, so they
// survive the wrap.

#include <chrono>
#include <cstdint>

inline std::uint32_t MonotonicTickCount()
{
    const auto now = std::chrono::steady_clock::now().time_since_epoch();
    return static_cast<std::uint32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(now).count());
}
