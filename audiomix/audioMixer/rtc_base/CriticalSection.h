#pragma once
// rtc::CriticalSection: the mixing engine's recursive lock. It spins
// (yielding the processor) for a while before it sleeps on a POSIX
// semaphore, because it is held only for the few microseconds of a mixing
// round or of adding and removing a source: a short wait is cheaper spun
// than slept.
//
// lock_queue_ counts the owner's entries plus every thread that gave up
// spinning and waits; the last owner's Leave wakes one waiter.
// Any thread may use it; the owner must be the one that leaves.
#include "PlatformThreadRef.h"

#include <semaphore.h>

#include <atomic>

namespace rtc {

class CriticalSection {
public:
    CriticalSection();
    ~CriticalSection();
    CriticalSection(const CriticalSection&) = delete;
    CriticalSection& operator=(const CriticalSection&) = delete;

    void Enter() const;
    void Leave() const;

private:
    static constexpr int kSpinRounds = 3000;
    bool CurrentThreadIsOwner() const;

    mutable std::atomic<int> lock_queue_ { 0 };
    mutable int recursion_count_ = 0; // written by the owner only
    mutable std::atomic<PlatformThreadRef> owning_thread_ { 0 };
    mutable std::atomic<bool> owned_ { false };
    mutable sem_t semaphore_;
};

// Holds a CriticalSection for its scope.
class CritScope {
public:
    explicit CritScope(const CriticalSection* cs)
        : cs_(cs)
    {
        cs_->Enter();
    }
    ~CritScope() { cs_->Leave(); }
    CritScope(const CritScope&) = delete;
    CritScope& operator=(const CritScope&) = delete;

private:
    const CriticalSection* const cs_;
};

} // namespace rtc
