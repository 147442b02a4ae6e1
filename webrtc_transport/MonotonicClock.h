#pragma once
// Milliseconds of the steady clock: the one time base of the sessions'
// timers and of the log throttles of the WebRTC transport.
#include <chrono>
#include <cstdint>

inline int64_t monotonicMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}
