#pragma once
// LogThrottle: keeps an event that a stranger can repeat at will (a refused
// STUN check, a dropped datagram) from writing one log line per datagram.
// The first event of a quiet spell is logged at once; the ones after it are
// only counted, and the count is logged once the interval has passed
// ("N ... in the last 10 s"), at most one line per interval.
//
// Owner: the object whose events it counts; used on one thread only (the
// WebRTC network thread), so it holds no lock.
#include <cstdint>

class LogThrottle {
public:
    static constexpr int64_t kDefaultIntervalMs = 10000;

    explicit LogThrottle(int64_t intervalMs = kDefaultIntervalMs)
        : m_intervalMs(intervalMs)
    {
    }

    // Counts one event at nowMs (monotonicMs()); true when it is the
    // first of a quiet spell and its own line is due now.
    bool event(int64_t nowMs);
    // The events counted since the last line once the interval has passed
    // (0 before then, or when there were none); the next interval starts here.
    uint64_t takeSummary(int64_t nowMs);
    int64_t intervalSeconds() const { return m_intervalMs / 1000; }

private:
    const int64_t m_intervalMs;
    bool m_open = false; // an interval is running
    int64_t m_since = 0; // start of the running interval
    uint64_t m_counted = 0; // events of the running interval not logged yet
};
