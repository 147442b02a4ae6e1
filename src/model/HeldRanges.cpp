#include "HeldRanges.h"

void HeldRanges::hold(const QString& win_id, bool numbered, int min, int max)
{
    m_ranges[win_id].append(numbered ? qMakePair(min, max) : qMakePair(0, 0));
}

void HeldRanges::release(const QString& win_id)
{
    const auto held = m_ranges.find(win_id);
    if (held == m_ranges.end())
        return;
    held->removeFirst();
    if (held->isEmpty())
        m_ranges.erase(held);
}

bool HeldRanges::holds(const QString& win_id) const
{
    return m_ranges.contains(win_id);
}

bool HeldRanges::meetsOther(const QString& win_id, int min, int max) const
{
    for (auto it = m_ranges.cbegin(); it != m_ranges.cend(); ++it) {
        if (it.key() == win_id)
            continue;
        for (const QPair<int, int>& range : it.value()) {
            if (meet(min, max, range.first, range.second))
                return true;
        }
    }
    return false;
}

bool HeldRanges::meet(int min, int max, int otherMin, int otherMax)
{
    return min <= max && otherMin <= otherMax && min <= otherMax && otherMin <= max;
}
