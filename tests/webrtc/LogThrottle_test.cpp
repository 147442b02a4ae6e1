// The log throttle of events a stranger can repeat at will: the first of a
// quiet spell is logged at once, the rest only as a count per interval.
#include "webrtc_transport/LogThrottle.h"

#include <gtest/gtest.h>

#include <vector>

TEST(LogThrottle, LogsTheFirstEventAndThenOneCountPerInterval)
{
    // One step of a timeline: an event ('e') or a look at the summary ('s')
    // at a time in ms, and what it should give (event: 1 = its own line is
    // due; summary: the count to log).
    struct Step {
        char what;
        int64_t at;
        uint64_t expect;
    };
    const std::vector<Step> steps = {
        { 's', 0, 0 }, // nothing happened yet
        { 'e', 100, 1 }, // the first event is logged at once
        { 'e', 200, 0 }, { 'e', 9000, 0 }, { 's', 10099, 0 }, // the interval has not passed yet
        { 's', 10100, 2 }, // two counted since the line
        { 'e', 10200, 0 }, // a new interval is running: counted, not logged
        { 's', 20099, 0 }, { 's', 20100, 1 }, { 's', 30100, 0 }, // a quiet interval ends the spell ...
        { 'e', 40000, 1 }, // ... so the next event is logged at once again
        { 'e', 55000, 1 }, // nobody looked, but nothing was counted for an interval
        { 'e', 56000, 0 }, { 's', 64999, 0 }, { 's', 65000, 1 },
        { 'e', 80000, 1 }, // nothing counted since that line, an interval ago
    };
    LogThrottle throttle(10000);
    for (const Step& s : steps) {
        const uint64_t got = s.what == 'e' ? uint64_t(throttle.event(s.at)) : throttle.takeSummary(s.at);
        EXPECT_EQ(got, s.expect) << s.what << " at " << s.at;
    }
    EXPECT_EQ(throttle.intervalSeconds(), 10);
}
