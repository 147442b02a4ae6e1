#pragma once
// The identity of a thread as the engine's lock and race checker record it.
#include <pthread.h>

namespace rtc {

using PlatformThreadRef = pthread_t;

PlatformThreadRef CurrentThreadRef();
bool IsThreadRefEqual(const PlatformThreadRef& a, const PlatformThreadRef& b);

} // namespace rtc
