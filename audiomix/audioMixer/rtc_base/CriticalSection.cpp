#include "CriticalSection.h"

#include "Checks.h"

#include <sched.h>

#include <cerrno>

namespace rtc {

CriticalSection::CriticalSection()
{
    sem_init(&semaphore_, 0, 0);
}

CriticalSection::~CriticalSection()
{
    sem_destroy(&semaphore_);
}

bool CriticalSection::CurrentThreadIsOwner() const
{
    return owned_.load(std::memory_order_acquire)
        && IsThreadRefEqual(owning_thread_.load(std::memory_order_relaxed), CurrentThreadRef());
}

void CriticalSection::Enter() const
{
    const PlatformThreadRef self = CurrentThreadRef();
    bool taken = false;
    for (int round = 0; round < kSpinRounds && !taken; ++round) {
        if (CurrentThreadIsOwner()) {
            lock_queue_.fetch_add(1, std::memory_order_acquire);
            ++recursion_count_;
            return;
        }
        int expected = 0;
        if (lock_queue_.load(std::memory_order_relaxed) == 0
            && lock_queue_.compare_exchange_strong(expected, 1, std::memory_order_acquire))
            taken = true;
        else
            sched_yield();
    }
    if (!taken && lock_queue_.fetch_add(1, std::memory_order_acquire) + 1 >= 2) {
        // The owner would wait for itself here forever.
        RTC_CHECK_MSG(!(owned_.load(std::memory_order_acquire)
                          && IsThreadRefEqual(owning_thread_.load(std::memory_order_relaxed), self)),
            "!IsThreadRefEqual(owning_thread_, self)");
        while (sem_wait(&semaphore_) != 0 && errno == EINTR) { }
    }
    owning_thread_.store(self, std::memory_order_relaxed);
    owned_.store(true, std::memory_order_release);
    ++recursion_count_;
}

void CriticalSection::Leave() const
{
    RTC_CHECK_MSG(CurrentThreadIsOwner(), "CurrentThreadIsOwner()");
    --recursion_count_;
    const bool released = recursion_count_ == 0;
    if (released)
        owned_.store(false, std::memory_order_release);
    const int others = lock_queue_.fetch_sub(1, std::memory_order_release) - 1;
    if (others > 0 && released)
        sem_post(&semaphore_);
}

} // namespace rtc
