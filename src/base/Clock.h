#pragma once
// The steady clock as plain numbers: the one time base of timers, timeouts,
// statistics and log throttles. It never jumps with the wall clock, and its
// zero is arbitrary, so only differences of its readings mean anything.
// Callable from any thread.
#include <chrono>
#include <cstdint>

inline int64_t monotonicUs()
{
    return std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

inline int64_t monotonicMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// Milliseconds with their fraction, for stage timings below a millisecond.
inline double monotonicMsF()
{
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

inline int64_t monotonicSeconds()
{
    return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}
