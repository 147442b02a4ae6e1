#include "PlatformThreadRef.h"

namespace rtc {

PlatformThreadRef CurrentThreadRef()
{
    return pthread_self();
}

bool IsThreadRefEqual(const PlatformThreadRef& a, const PlatformThreadRef& b)
{
    return pthread_equal(a, b) != 0;
}

} // namespace rtc
