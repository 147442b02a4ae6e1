// The one thread check: the GUI thread is told from any other, and an
// object's own thread follows it when it moves.
#include "base/ThreadCheck.h"

#include <gtest/gtest.h>

#include <QObject>
#include <QThread>

#include <atomic>
#include <functional>

namespace {

// Runs check on a thread of its own and returns what it saw.
bool onOtherThread(const std::function<bool()>& check)
{
    std::atomic<bool> seen { false };
    QThread* thread = QThread::create([&] { seen = check(); });
    thread->start();
    thread->wait();
    delete thread;
    return seen;
}

TEST(ThreadCheck, TellsTheGuiThreadFromOthers)
{
    EXPECT_TRUE(onMainThread());
    EXPECT_FALSE(onOtherThread([] { return onMainThread(); }));
}

TEST(ThreadCheck, FollowsTheObjectToItsThread)
{
    QObject object;
    EXPECT_TRUE(onThreadOf(&object));
    EXPECT_FALSE(onThreadOf(nullptr));

    EXPECT_FALSE(onOtherThread([&] { return onThreadOf(&object); }));

    QThread worker;
    QObject moved;
    moved.moveToThread(&worker);
    EXPECT_FALSE(onThreadOf(&moved));
}

} // namespace
