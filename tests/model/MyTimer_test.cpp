// The window tick: its period per frame rate, its cadence, and how it
// catches up after a stalled handler without losing ticks.
#include "MyTimer.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <QMutex>
#include <QThread>

#include <vector>

namespace {

// Records the time of every tick (on the timer's thread); the handler may stall.
class TickLog {
public:
    explicit TickLog(MyTimer& timer)
    {
        QObject::connect(
            &timer, &MyTimer::requestUpdate, &timer,
            [this] {
                int stall = 0;
                {
                    QMutexLocker lock(&mutex);
                    times.push_back(MyTimer::getSysRuntime());
                    if (times.size() == stallOnTick)
                        stall = stallMs;
                }
                if (stall)
                    QThread::msleep(stall);
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
    QMutex mutex;
    std::vector<int64_t> times;
    size_t stallOnTick = 0;
    int stallMs = 0;
};

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
    for (const double fps : { 25.0, 50.0, 60.0 }) {
        MyTimer timer;
        TickLog log(timer);
        timer.setFrameRate(fps);
        const int64_t start = MyTimer::getSysRuntime();
        timer.startTimer();
        EXPECT_TRUE(timer.isStarted());
        ASSERT_TRUE(log.waitForTicks(10)) << fps;
        timer.stopTimer();
        EXPECT_FALSE(timer.isStarted());

        const std::vector<int64_t> t = log.snapshot();
        const double period = ms(MyTimer::periodFor(fps));
        EXPECT_GE(ms(t[0] - start), period - 1) << fps;
        // The schedule is exact: the mean spacing only carries the jitter of two ticks.
        EXPECT_NEAR(ms(t[9] - t[0]) / 9, period, 3.0) << fps;
    }
}

TEST(MyTimer, CatchesUpAfterAStalledHandlerAndKeepsItsSchedule)
{
    MyTimer timer;
    TickLog log(timer);
    timer.setFrameRate(25.0);
    log.stallOn(1, 100);
    timer.startTimer();
    ASSERT_TRUE(log.waitForTicks(8));
    timer.stopTimer();

    const std::vector<int64_t> t = log.snapshot();
    // Ticks 2 and 3 were due during the stall: they follow at once, one pass apart.
    EXPECT_GE(ms(t[1] - t[0]), 99.0);
    EXPECT_LT(ms(t[2] - t[1]), 10.0);
    // From then on the ticks fall where the schedule set at the start puts them.
    for (size_t k = 3; k < t.size(); ++k)
        EXPECT_NEAR(ms(t[k] - t[0]), 40.0 * k, 8.0) << "tick " << k + 1;
}

TEST(MyTimer, ZeroRatePausesTheTicksAndStopAndRestartBehave)
{
    MyTimer never;
    never.stopTimer(); // never started: returns at once
    EXPECT_FALSE(never.isStarted());

    MyTimer timer;
    TickLog log(timer);
    timer.setFrameRate(25.0);
    timer.startTimer();
    timer.startTimer(); // already running: nothing
    ASSERT_TRUE(log.waitForTicks(2));

    timer.setFrameRate(0.0);
    const size_t paused = log.count();
    EXPECT_FALSE(testsupport::waitFor([&] { return log.count() > paused + 1; }, 200));
    EXPECT_TRUE(timer.isStarted());
    const size_t afterPause = log.count();

    // The kept schedule resumes: the time that passed is made up at once.
    timer.setFrameRate(25.0);
    ASSERT_TRUE(log.waitForTicks(afterPause + 4, 1000));
    const std::vector<int64_t> burst = log.snapshot();
    EXPECT_LT(ms(burst[afterPause + 3] - burst[afterPause]), 40.0);
    timer.stopTimer();

    // A restart begins a fresh schedule: its first tick comes one period later.
    const size_t before = log.count();
    const int64_t restart = MyTimer::getSysRuntime();
    timer.startTimer();
    ASSERT_TRUE(log.waitForTicks(before + 1));
    EXPECT_GE(ms(log.snapshot()[before] - restart), 39.0);
    timer.stopTimer();
}

} // namespace
