#pragma once
// EventLoop: one poll cycle at a time over the registered channels.
//
// Owner: the process-wide acceptLoop (or a test's own loop). Thread: loop()
// runs on one thread (the WebRTC network thread); quit, wakeup and channel
// registration may come from any thread. Channels are removed only on the
// loop's thread (or after it ended), so a channel is never freed while a
// cycle dispatches it.
#include "Epoll.h"

#include <atomic>
#include <vector>

class Channel;

class EventLoop {
public:
    EventLoop();
    EventLoop(const EventLoop&) = delete;
    EventLoop& operator=(const EventLoop&) = delete;

    // One cycle: wait at most timeoutMs, then dispatch in readiness order.
    void loop(int timeoutMs = 100);
    // Wakes the current wait; the calling thread decides whether to stop.
    void quit();
    void wakeup() { m_poller.wake(); }
    bool quitRequested() const { return m_quit; }

    void updateChannel(Channel* channel) { m_poller.updateChannel(channel); }
    void removeChannel(Channel* channel) { m_poller.removeChannel(channel); }
    size_t channelCount() const { return m_poller.channelCount(); }

private:
    std::atomic<bool> m_quit { false };
    Epoll m_poller;
    std::vector<Channel*> m_active;
};

// The one event loop of every WebRTC session's socket.
extern EventLoop acceptLoop;
