#pragma once
// Epoll: the poller of an EventLoop, on Linux epoll (no descriptor-number
// limit, unlike select).
//
// Owner: its EventLoop. Thread: epWait runs on the loop's thread only;
// updateChannel/removeChannel may run on any thread. The lock guards only the
// descriptor map and is never held while waiting, so registering a new
// session's socket never waits for a poll to end. An eventfd wakes the wait
// early (wake()), e.g. when a session was removed or the loop must stop.
#include "base/LinkWaker.h"

#include <map>
#include <mutex>
#include <vector>

class Channel;

class Epoll {
public:
    Epoll();
    ~Epoll();
    Epoll(const Epoll&) = delete;
    Epoll& operator=(const Epoll&) = delete;

    // Waits at most timeoutMs and appends the ready channels.
    void epWait(std::vector<Channel*>* active, int timeoutMs = 100);
    void updateChannel(Channel* channel);
    void removeChannel(Channel* channel);
    void wake() { m_waker.wake(); }
    size_t channelCount() const;

private:
    int m_epfd;
    LinkWaker m_waker;
    mutable std::mutex m_mutex;
    std::map<int, Channel*> m_channels;
    std::vector<struct epoll_event> m_events;
};
