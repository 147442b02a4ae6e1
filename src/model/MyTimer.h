#pragma once
// MyTimer: the render tick of one output window. Its own thread emits
// requestUpdate() once per frame period of the window.
//
// Owner: the window (WindowObject), which starts it with the window and stops
// it before it goes; no parent. Thread: run() polls on the timer's own thread
// every millisecond, so receivers connected directly run there. The schedule
// moves on by exactly one period per tick, counted from the previous due time:
// after a stall the loop catches up tick by tick and the mean rate holds.
#include <QMutex>
#include <QThread>

#include <atomic>
#include <cstdint>
#include <functional>

class MyTimer : public QThread {
    Q_OBJECT
public:
    MyTimer();
    ~MyTimer() override;

    void startTimer();
    // Returns once the loop has ended; the handler of a tick in progress finishes first.
    void stopTimer();
    bool isStarted() const;
    // Ticks per second; read by the loop at its next pass.
    void setFrameRate(double fps);
    double frameRate() const;

    // The steady clock in microseconds.
    static int64_t getSysRuntime();
    // The tick period for a rate: whole milliseconds, floor(1e6 / floor(fps * 1000)),
    // in microseconds; 0 ticks on every pass; -1 means no ticks at all.
    static int64_t periodFor(double fps);

    // The loop's time source (microseconds) and its pause between passes: the
    // steady clock and a 1 ms sleep unless replaced (tests drive the schedule
    // on a clock of their own). Set while the timer is stopped.
    struct Clock {
        std::function<int64_t()> now = &MyTimer::getSysRuntime;
        std::function<void()> pause = [] { QThread::usleep(1000); };
    };
    void setClock(Clock clock);

signals:
    void requestUpdate();

protected:
    void run() override;

private:
    std::atomic<bool> running { false };
    double frame_rate = 25.0;
    mutable QMutex rate_mutex;
    Clock clock;
};
