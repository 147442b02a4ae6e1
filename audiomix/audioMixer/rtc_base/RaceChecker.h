#pragma once
// rtc::RaceChecker: catches two threads inside a section that must only
// ever run on one thread at a time (the engine's Mix). Entering records the
// first thread in; any other thread entering while it is inside sees a race.
#include "PlatformThreadRef.h"

#include <atomic>

namespace rtc {

class RaceChecker {
public:
    // True when no other thread is inside.
    bool Acquire() const;
    void Release() const;

private:
    mutable std::atomic<int> access_count_ { 0 };
    mutable std::atomic<PlatformThreadRef> accessing_thread_ { 0 };
};

namespace internal {

class RaceCheckerScope {
public:
    explicit RaceCheckerScope(const RaceChecker* checker)
        : checker_(checker)
        , race_detected_(!checker->Acquire())
    {
    }
    ~RaceCheckerScope() { checker_->Release(); }
    RaceCheckerScope(const RaceCheckerScope&) = delete;
    RaceCheckerScope& operator=(const RaceCheckerScope&) = delete;

    bool RaceDetected() const { return race_detected_; }

private:
    const RaceChecker* const checker_;
    const bool race_detected_;
};

} // namespace internal
} // namespace rtc
