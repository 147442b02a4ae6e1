#include "LogThrottle.h"

bool LogThrottle::event(int64_t nowMs)
{
    if (m_open && nowMs - m_since >= m_intervalMs && m_counted == 0)
        m_open = false; // a whole interval went by without an event
    if (!m_open) {
        m_open = true;
        m_since = nowMs;
        return true;
    }
    ++m_counted;
    return false;
}

uint64_t LogThrottle::takeSummary(int64_t nowMs)
{
    if (!m_open || nowMs - m_since < m_intervalMs)
        return 0;
    const uint64_t counted = m_counted;
    m_counted = 0;
    // Nothing counted: quiet again, the next event gets its own line.
    m_open = counted != 0;
    m_since = nowMs;
    return counted;
}
