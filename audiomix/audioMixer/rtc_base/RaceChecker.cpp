#include "RaceChecker.h"

namespace rtc {

bool RaceChecker::Acquire() const
{
    const PlatformThreadRef self = CurrentThreadRef();
    if (access_count_.fetch_add(1, std::memory_order_acq_rel) == 0)
        accessing_thread_.store(self, std::memory_order_release);
    return IsThreadRefEqual(self, accessing_thread_.load(std::memory_order_acquire));
}

void RaceChecker::Release() const
{
    access_count_.fetch_sub(1, std::memory_order_acq_rel);
}

} // namespace rtc
