#pragma once
// Channel: one descriptor registered with an EventLoop, its interest mask and
// its callbacks.
//
// Owner: the UdpSocket that opened the descriptor (shared pointer); the poller
// keeps only a plain pointer. Thread: callbacks run on the loop's thread.
#include <functional>

class EventLoop;

class Channel {
public:
    // poll(2) bit values, as the interest and event masks use them.
    static constexpr int kReadable = 1 | 2;
    static constexpr int kWritable = 4;

    Channel(EventLoop* loop, int fd);

    int fd() const { return m_fd; }
    int events() const { return m_events; }
    void setEvents(int events) { m_events = events; }
    void setRevents(int revents) { m_revents = revents; }
    void setReadCallback(std::function<void()> cb) { m_readCallback = std::move(cb); }
    void setWriteCallback(std::function<void()> cb) { m_writeCallback = std::move(cb); }

    // Registers with the loop (once; a repeat changes nothing).
    void update();
    // Readable wins over writable within one cycle.
    void handleEvent();

private:
    EventLoop* m_loop;
    const int m_fd;
    int m_events = 0;
    int m_revents = 0;
    std::function<void()> m_readCallback;
    std::function<void()> m_writeCallback;
};
