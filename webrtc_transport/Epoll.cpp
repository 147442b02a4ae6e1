#include "Epoll.h"

#include "Channel.h"

#include <QDebug>

#include <cerrno>
#include <cstring>
#include <sys/epoll.h>

Epoll::Epoll()
    : m_epfd(::epoll_create1(EPOLL_CLOEXEC))
    , m_events(64)
{
    if (m_epfd < 0) {
        qDebug() << "epoll_create1 failed:" << std::strerror(errno);
        return;
    }
    epoll_event ev {};
    ev.events = EPOLLIN;
    ev.data.fd = -1; // the waker: not a channel
    ::epoll_ctl(m_epfd, EPOLL_CTL_ADD, m_waker.fd(), &ev);
}

Epoll::~Epoll()
{
    if (m_epfd >= 0)
        ::close(m_epfd);
}

void Epoll::epWait(std::vector<Channel*>* active, int timeoutMs)
{
    if (m_epfd < 0)
        return;
    // The wait holds no lock: registrations from other threads go straight
    // to the kernel's set and are seen by this very wait.
    const int n = ::epoll_wait(m_epfd, m_events.data(), int(m_events.size()), timeoutMs);
    if (n <= 0)
        return;
    std::lock_guard<std::mutex> lock(m_mutex);
    for (int i = 0; i < n; ++i) {
        const epoll_event& ev = m_events[size_t(i)];
        if (ev.data.fd < 0) {
            m_waker.drain();
            continue;
        }
        const auto it = m_channels.find(ev.data.fd);
        if (it == m_channels.end())
            continue;
        int revents = 0;
        if (ev.events & (EPOLLIN | EPOLLPRI | EPOLLERR | EPOLLHUP))
            revents |= 1;
        if (ev.events & EPOLLOUT)
            revents |= 4;
        it->second->setRevents(revents);
        active->push_back(it->second);
    }
}

void Epoll::updateChannel(Channel* channel)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    // Descriptor 0 is a valid socket; only negative ones are not.
    if (m_epfd < 0 || channel->fd() < 0 || m_channels.count(channel->fd()))
        return;
    epoll_event ev {};
    ev.events = (channel->events() & Channel::kReadable ? uint32_t(EPOLLIN) : 0u)
        | (channel->events() & Channel::kWritable ? uint32_t(EPOLLOUT) : 0u);
    ev.data.fd = channel->fd();
    if (::epoll_ctl(m_epfd, EPOLL_CTL_ADD, channel->fd(), &ev) != 0) {
        qDebug() << "epoll_ctl add failed:" << std::strerror(errno);
        return;
    }
    m_channels[channel->fd()] = channel;
}

void Epoll::removeChannel(Channel* channel)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto it = m_channels.find(channel->fd());
    if (it == m_channels.end() || it->second != channel)
        return;
    ::epoll_ctl(m_epfd, EPOLL_CTL_DEL, channel->fd(), nullptr);
    m_channels.erase(it);
}

size_t Epoll::channelCount() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_channels.size();
}
