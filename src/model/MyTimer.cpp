#include "MyTimer.h"

#include "base/Clock.h"

MyTimer::MyTimer()
{
    setObjectName("window tick");
}

MyTimer::~MyTimer()
{
    if (isRunning()) {
        running = false;
        quit();
        wait();
    }
}

void MyTimer::startTimer()
{
    if (isRunning())
        return;
    running = true;
    start(QThread::InheritPriority);
}

void MyTimer::stopTimer()
{
    if (!isRunning())
        return;
    running = false;
    quit();
    wait();
}

bool MyTimer::isStarted() const
{
    return isRunning() && running;
}

void MyTimer::setFrameRate(double fps)
{
    QMutexLocker lock(&rate_mutex);
    frame_rate = fps;
}

double MyTimer::frameRate() const
{
    QMutexLocker lock(&rate_mutex);
    return frame_rate;
}

void MyTimer::setClock(Clock replacement)
{
    clock = std::move(replacement);
}

int64_t MyTimer::getSysRuntime()
{
    return monotonicUs();
}

int64_t MyTimer::periodFor(double fps)
{
    const double millis = fps * 1000.0;
    if (!(millis >= 1.0)) // zero, negative, not a number, or below 0.001
        return -1;
    if (millis >= 1000000.0) // 1000 per second or more: a tick on every pass
        return 0;
    return static_cast<int64_t>(1000000 / static_cast<int>(millis)) * 1000;
}

void MyTimer::run()
{
    if (!running)
        return;
    int64_t last = 0;
    do {
        double fps;
        {
            QMutexLocker lock(&rate_mutex);
            fps = frame_rate;
        }
        const int64_t now = clock.now();
        if (last == 0)
            last = now;
        const int64_t period = periodFor(fps);
        if (period >= 0) {
            const int64_t next = last + period;
            if (now >= next) {
                emit requestUpdate();
                last = next;
            }
        }
        clock.pause();
    } while (running);
}
