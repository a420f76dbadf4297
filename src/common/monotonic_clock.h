// Microseconds on a clock that only moves forward, for measuring how long a
// command took. On Windows it is the performance counter, which every
// Windows from XP on has; the standard library's steady clock there comes
// from the compiler's thread library or is the wall clock.
#pragma once

#include <cstdint>

#if defined(_WIN32)
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#else
#include <chrono>
#endif

namespace tarnscsi {

inline std::int64_t MonotonicMicroseconds() {
#if defined(_WIN32)
    constexpr std::int64_t kMicrosecondsPerSecond = 1'000'000;
    LARGE_INTEGER frequency;
    LARGE_INTEGER count;
    if (!QueryPerformanceFrequency(&frequency) || frequency.QuadPart <= 0 || !QueryPerformanceCounter(&count)) {
        return 0;
    }
    // Whole seconds and the rest apart, so that the product cannot overflow.
    const std::int64_t seconds = count.QuadPart / frequency.QuadPart;
    const std::int64_t rest = count.QuadPart % frequency.QuadPart;
    return seconds * kMicrosecondsPerSecond + rest * kMicrosecondsPerSecond / frequency.QuadPart;
#else
    const auto now = std::chrono::steady_clock::now().time_since_epoch();
    return std::chrono::duration_cast<std::chrono::microseconds>(now).count();
#endif
}

}  // namespace tarnscsi
