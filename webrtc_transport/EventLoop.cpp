#include "EventLoop.h"

#include "Channel.h"

EventLoop acceptLoop;

EventLoop::EventLoop() = default;

void EventLoop::loop(int timeoutMs)
{
    m_quit = false;
    m_active.clear();
    m_poller.epWait(&m_active, timeoutMs);
    for (Channel* channel : m_active)
        channel->handleEvent();
}

void EventLoop::quit()
{
    m_quit = true;
    m_poller.wake();
}
