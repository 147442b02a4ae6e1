#pragma once
// CPU time and percentiles as the benchmark programs print them, so that
// figures of different benchmarks are taken the same way.
#include <algorithm>
#include <cmath>
#include <ctime>
#include <vector>

// CPU time used so far, in seconds: by this process, or by the calling
// thread with CLOCK_THREAD_CPUTIME_ID.
inline double cpuSeconds(clockid_t clock = CLOCK_PROCESS_CPUTIME_ID)
{
    timespec ts {};
    clock_gettime(clock, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

// The value at share p (0 to 1) of the sorted values, by nearest rank:
// 0.5 the median, 1 the largest. 0 for no values.
inline double percentile(std::vector<double> values, double p)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1, size_t(std::lround(p * double(values.size() - 1))))];
}
