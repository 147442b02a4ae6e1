#pragma once
// Wakes a link loop out of its poll() when another thread has queued work
// for it. Shared by the loop and its channels, so a channel that outlives its
// loop still wakes a valid (if unread) descriptor instead of a reused one.
#include <cstdint>
#include <sys/eventfd.h>
#include <unistd.h>

class LinkWaker {
public:
    LinkWaker()
        : m_fd(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC))
    {
    }
    ~LinkWaker()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    LinkWaker(const LinkWaker&) = delete;
    LinkWaker& operator=(const LinkWaker&) = delete;

    bool valid() const { return m_fd >= 0; }
    int fd() const { return m_fd; }
    void wake()
    {
        const uint64_t one = 1;
        // A full counter already means "wake up"; nothing more to do then.
        [[maybe_unused]] ssize_t n = ::write(m_fd, &one, sizeof one);
    }
    void drain()
    {
        uint64_t value;
        [[maybe_unused]] ssize_t n = ::read(m_fd, &value, sizeof value);
    }

private:
    int m_fd;
};
