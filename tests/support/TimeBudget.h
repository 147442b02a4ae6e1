#pragma once
// The one time budget of the suite: a wait written as ms on a quiet machine,
// scaled by the factor in PANOPTRA_TEST_TIME_SCALE (scripts/test.sh sets it
// for the sanitized build; 1 when unset). Every wait for a condition (events,
// replies, child processes, peers) takes its limit from here, so a slow or
// busy machine makes a test slower, never failed. Header-only: the tools
// that share the test kits use it too.
#include <QString>

#include <algorithm>
#include <limits>

namespace testsupport {

inline double timeScale()
{
    static const double scale = [] {
        bool ok = false;
        const double value = qEnvironmentVariable("PANOPTRA_TEST_TIME_SCALE").toDouble(&ok);
        return ok && value >= 1.0 ? value : 1.0;
    }();
    return scale;
}

inline int budgetMs(int ms)
{
    return int(std::min(double(ms) * timeScale(), double(std::numeric_limits<int>::max())));
}

} // namespace testsupport
