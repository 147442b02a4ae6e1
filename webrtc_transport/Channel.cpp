#include "Channel.h"

#include "EventLoop.h"

Channel::Channel(EventLoop* loop, int fd)
    : m_loop(loop)
    , m_fd(fd)
{
}

void Channel::update()
{
    m_loop->updateChannel(this);
}

void Channel::handleEvent()
{
    if (m_revents & kReadable) {
        if (m_readCallback)
            m_readCallback();
        return;
    }
    if ((m_revents & kWritable) && m_writeCallback)
        m_writeCallback();
}
