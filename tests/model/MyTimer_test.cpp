// The window tick: its period per frame rate, its cadence, and how it
// catches up after a stalled handler without losing ticks.
#include "TestSupport.h"
#include "model/MyTimer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <functional>

#include <QMutex>
#include <QThread>

#include <vector>

namespace {

// Records the time of every tick (on the timer's thread); the handler may
// stall. Times come from `now`, stalls go through `stall` (the real clock and
// a real sleep unless a fake clock is given).
class TickLog {
public:
    explicit TickLog(
        MyTimer& timer, std::function<int64_t()> now = &MyTimer::getSysRuntime,
        std::function<void(int)> stall = [](int ms) { QThread::msleep(ms); })
        : now(std::move(now))
        , stallFor(std::move(stall))
    {
        QObject::connect(
            &timer, &MyTimer::requestUpdate, &timer,
            [this] {
                int stall = 0;
                {
                    QMutexLocker lock(&mutex);
                    times.push_back(this->now());
                    if (times.size() == stallOnTick)
                        stall = stallMs;
                }
                if (stall)
                    stallFor(stall);
            },
            Qt::DirectConnection);
    }

    std::vector<int64_t> snapshot()
    {
        QMutexLocker lock(&mutex);
        return times;
    }
    size_t count() { return snapshot().size(); }
    bool waitForTicks(size_t n, int ms = 5000)
    {
        return testsupport::waitFor([&] { return count() >= n; }, ms);
    }
    void stallOn(size_t tick, int ms)
    {
        QMutexLocker lock(&mutex);
        stallOnTick = tick;
        stallMs = ms;
    }

private:
    std::function<int64_t()> now;
    std::function<void(int)> stallFor;
    QMutex mutex;
    std::vector<int64_t> times;
    size_t stallOnTick = 0;
    int stallMs = 0;
};

// A clock the timer's loop moves on itself: each pause between passes is
// exactly 1 ms of its time, a stalled handler moves it on by the stall, and it
// stands still (the loop idling on real 1 ms sleeps) once it reaches `until`.
// `atPause` runs on the timer's thread after each step, with the new time.
class FakeClock {
public:
    static constexpr int64_t kStart = 1000000;

    MyTimer::Clock clock()
    {
        MyTimer::Clock c;
        c.now = [this] { return time.load(); };
        c.pause = [this] {
            if (time.load() >= until.load()) {
                idle = true; // the pass at `until` is done
                QThread::usleep(1000);
                return;
            }
            idle = false;
            time += 1000;
            if (atPause)
                atPause(time.load());
        };
        return c;
    }
    std::function<int64_t()> now()
    {
        return [this] { return time.load(); };
    }
    std::function<void(int)> stall()
    {
        return [this](int ms) { time += int64_t(ms) * 1000; };
    }
    // Lets the clock run to `end` (microseconds after kStart) and waits until
    // the loop has made its pass at that time.
    bool runTo(int64_t end)
    {
        until = kStart + end;
        return testsupport::waitFor([&] { return idle.load() && time.load() >= until.load(); });
    }

    std::atomic<int64_t> time { kStart };
    std::atomic<int64_t> until { kStart };
    std::atomic<bool> idle { false };
    std::function<void(int64_t)> atPause;
};

// Tick times in milliseconds after the fake clock's start.
std::vector<int64_t> msAfterStart(const std::vector<int64_t>& ticks)
{
    std::vector<int64_t> out;
    out.reserve(ticks.size());
    for (const int64_t t : ticks)
        out.push_back((t - FakeClock::kStart) / 1000);
    return out;
}

double ms(int64_t micros)
{
    return micros / 1000.0;
}

TEST(MyTimer, PeriodIsWholeMillisecondsOfTheFrameRate)
{
    struct Case {
        double fps;
        int64_t periodUs; // -1: no ticks
    };
    const std::vector<Case> cases {
        { 25.0, 40000 },
        { 30.0, 33000 },
        { 29.97, 33000 },
        { 50.0, 20000 },
        { 59.94, 16000 },
        { 60.0, 16000 },
        { 24.0, 41000 },
        { 16.0, 62000 },
        { 1000.0, 0 },
        { 5000.0, 0 },
        { 0.0, -1 },
        { -25.0, -1 },
        { 0.0005, -1 },
    };
    for (const Case& c : cases)
        EXPECT_EQ(MyTimer::periodFor(c.fps), c.periodUs) << c.fps;
}

TEST(MyTimer, TicksOnePeriodApartStartingOnePeriodAfterTheStart)
{
    for (const double fps : { 25.0, 29.97, 50.0, 60.0 }) {
        MyTimer timer;
        FakeClock fake;
        timer.setClock(fake.clock());
        TickLog log(timer, fake.now());
        timer.setFrameRate(fps);
        timer.startTimer();
        EXPECT_TRUE(timer.isStarted());
        const int64_t period = MyTimer::periodFor(fps);
        ASSERT_TRUE(fake.runTo(10 * period)) << fps;
        timer.stopTimer();
        EXPECT_FALSE(timer.isStarted());

        std::vector<int64_t> expected;
        for (int k = 1; k <= 10; ++k)
            expected.push_back(k * period / 1000);
        EXPECT_EQ(msAfterStart(log.snapshot()), expected) << fps;
    }
}

TEST(MyTimer, OnTheSteadyClockNoTickComesBeforeItsSlot)
{
    MyTimer timer;
    TickLog log(timer);
    timer.setFrameRate(50.0);
    const int64_t start = MyTimer::getSysRuntime();
    timer.startTimer();
    ASSERT_TRUE(log.waitForTicks(5));
    timer.stopTimer();

    const std::vector<int64_t> t = log.snapshot();
    for (size_t k = 0; k < t.size(); ++k)
        EXPECT_GE(ms(t[k] - start), 20.0 * (k + 1) - 1.0) << "tick " << k + 1;
}

TEST(MyTimer, CatchesUpAfterAStalledHandlerAndKeepsItsSchedule)
{
    MyTimer timer;
    FakeClock fake;
    timer.setClock(fake.clock());
    TickLog log(timer, fake.now(), fake.stall());
    timer.setFrameRate(25.0);
    log.stallOn(1, 100);
    timer.startTimer();
    ASSERT_TRUE(fake.runTo(320000));
    timer.stopTimer();

    // Ticks 2 and 3 were due during the stall: they follow at once, one pass
    // apart, after the 1 ms pause that ends the stalled pass; from then on the ticks fall where the schedule set at the
    // start puts them (a schedule restarted after the stall would put them 60 ms late).
    EXPECT_EQ(msAfterStart(log.snapshot()), (std::vector<int64_t> { 40, 141, 142, 160, 200, 240, 280, 320 }));
}

TEST(MyTimer, ZeroRatePausesTheTicksAndStopAndRestartBehave)
{
    MyTimer never;
    never.stopTimer(); // never started: returns at once
    EXPECT_FALSE(never.isStarted());

    MyTimer timer;
    FakeClock fake;
    timer.setClock(fake.clock());
    TickLog log(timer, fake.now());
    timer.setFrameRate(25.0);
    // The rate drops to 0 at 100 ms and comes back at 300 ms.
    fake.atPause = [&](int64_t now) {
        if (now == FakeClock::kStart + 100000)
            timer.setFrameRate(0.0);
        if (now == FakeClock::kStart + 300000)
            timer.setFrameRate(25.0);
    };
    timer.startTimer();
    timer.startTimer(); // already running: nothing
    ASSERT_TRUE(fake.runTo(299000));
    EXPECT_TRUE(timer.isStarted());
    EXPECT_EQ(msAfterStart(log.snapshot()), (std::vector<int64_t> { 40, 80 }));

    // The kept schedule resumes: the time that passed is made up at once, one
    // tick per pass, then the ticks fall on their slots again.
    ASSERT_TRUE(fake.runTo(360000));
    EXPECT_EQ(msAfterStart(log.snapshot()), (std::vector<int64_t> { 40, 80, 300, 301, 302, 303, 304, 320, 360 }));
    timer.stopTimer();

    // A restart begins a fresh schedule: its first tick comes one period later.
    fake.atPause = nullptr;
    const size_t before = log.count();
    timer.startTimer();
    ASSERT_TRUE(fake.runTo(440000));
    timer.stopTimer();
    const std::vector<int64_t> after = msAfterStart(log.snapshot());
    EXPECT_EQ(std::vector<int64_t>(after.begin() + long(before), after.end()), (std::vector<int64_t> { 400, 440 }));
}

} // namespace
