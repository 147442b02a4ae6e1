#include "LinkLoop.h"

#include <QDebug>

#include <cerrno>
#include <cstring>
#include <poll.h>
#include <pthread.h>
#include <sys/socket.h>
#include <unistd.h>

LinkLoop::LinkLoop(QByteArray threadName, Handler& handler, std::shared_ptr<LinkBufferPool> pool)
    : m_threadName(std::move(threadName))
    , m_handler(handler)
    , m_pool(std::move(pool))
    , m_waker(std::make_shared<LinkWaker>())
{
}

LinkLoop::~LinkLoop()
{
    stop();
}

bool LinkLoop::start(int listenFd)
{
    if (m_thread.joinable() || !m_waker->valid()) {
        if (listenFd >= 0)
            ::close(listenFd);
        return false;
    }
    m_listenFd = listenFd;
    m_thread = std::thread([this] { run(); });
    return true;
}

void LinkLoop::stop()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stop = true;
    }
    if (m_thread.joinable()) {
        m_waker->wake();
        m_thread.join();
    }
    for (auto& channel : m_channels)
        channel->markClosed();
    m_channels.clear();
    std::lock_guard<std::mutex> lock(m_mutex);
    for (auto& channel : m_incoming)
        channel->markClosed();
    m_incoming.clear();
    if (m_listenFd >= 0) {
        ::close(m_listenFd);
        m_listenFd = -1;
    }
}

std::shared_ptr<LinkChannel> LinkLoop::adopt(int fd)
{
    auto channel = std::make_shared<LinkChannel>(fd, m_pool, m_waker);
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_stop.load()) {
            channel->markClosed();
            return channel;
        }
        m_incoming.push_back(channel);
    }
    m_waker->wake();
    return channel;
}

void LinkLoop::drop(size_t index)
{
    std::shared_ptr<LinkChannel> channel = m_channels[index];
    m_channels.erase(m_channels.begin() + long(index));
    channel->markClosed();
    m_handler.onClosed(*channel);
}

void LinkLoop::acceptAll()
{
    for (;;) {
        const int fd = ::accept4(m_listenFd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) {
            if (errno == EINTR)
                continue;
            if (errno != EAGAIN && errno != EWOULDBLOCK)
                qWarning() << "[ndi] link: accept failed:" << strerror(errno);
            return;
        }
        auto channel = std::make_shared<LinkChannel>(fd, m_pool, m_waker);
        m_channels.push_back(channel);
        m_handler.onAccepted(channel);
    }
}

void LinkLoop::run()
{
    pthread_setname_np(pthread_self(), m_threadName.left(15).constData());
    std::vector<pollfd> fds;
    while (!m_stop.load()) {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            for (auto& channel : m_incoming)
                m_channels.push_back(std::move(channel));
            m_incoming.clear();
        }
        for (size_t i = m_channels.size(); i-- > 0;) {
            if (m_channels[i]->closeRequested())
                drop(i);
        }

        fds.clear();
        fds.push_back({ m_waker->fd(), POLLIN, 0 });
        const size_t first = m_listenFd >= 0 ? 2 : 1;
        if (m_listenFd >= 0)
            fds.push_back({ m_listenFd, POLLIN, 0 });
        for (auto& channel : m_channels)
            fds.push_back({ channel->fd(), short(POLLIN | (channel->wantsWrite() ? POLLOUT : 0)), 0 });

        if (::poll(fds.data(), nfds_t(fds.size()), -1) < 0) {
            if (errno == EINTR)
                continue;
            qWarning() << "[ndi] link: poll failed:" << strerror(errno);
            break;
        }
        if (fds[0].revents)
            m_waker->drain();
        // Channels accepted below are not in fds yet; they are polled next round.
        const size_t polled = m_channels.size();
        if (m_listenFd >= 0 && fds[1].revents)
            acceptAll();

        for (size_t i = polled; i-- > 0;) {
            LinkChannel& channel = *m_channels[i];
            const short revents = fds[first + i].revents;
            bool alive = true;
            if (revents & (POLLIN | POLLHUP | POLLERR)) {
                alive = channel.readAvailable([this, &channel](linkwire::Type type, LinkBufferPtr payload) {
                    return m_handler.onMessage(channel, type, std::move(payload));
                });
            }
            // Write whatever is queued, including what a handler just posted;
            // a full socket reports would-block and is polled for POLLOUT.
            if (alive && channel.wantsWrite())
                alive = channel.writeAvailable();
            if (!alive)
                drop(i);
        }
    }
}
