#pragma once
// The one thread that moves the bytes of a stand-in sender or receiver.
//
// Owned by a StandInSender (which hands it its listening socket, so the loop
// also accepts receivers) or a StandInReceiver (one channel at a time); the
// owner starts it once and stops (joins) it before it goes. The loop polls
// its channels and a waker, reads complete messages and hands them to the
// owner's Handler, and writes what other threads queued on the channels.
// Handler calls run on the loop thread and must not stop the loop.
#include "LinkChannel.h"

#include <QByteArray>

#include <atomic>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

class LinkLoop {
public:
    class Handler {
    public:
        virtual ~Handler() = default;
        // A receiver connected to the listening socket.
        virtual void onAccepted(const std::shared_ptr<LinkChannel>&) { }
        // A complete message; false rejects it and closes the channel.
        virtual bool onMessage(LinkChannel& channel, linkwire::Type type, LinkBufferPtr payload) = 0;
        // The peer went away, or the channel was closed; the loop has let it go.
        virtual void onClosed(LinkChannel&) { }
    };

    // threadName: at most 15 characters are shown.
    LinkLoop(QByteArray threadName, Handler& handler, std::shared_ptr<LinkBufferPool> pool);
    ~LinkLoop();
    LinkLoop(const LinkLoop&) = delete;
    LinkLoop& operator=(const LinkLoop&) = delete;

    // Starts the thread; listenFd (taken over, may be -1) is a listening socket to accept from.
    bool start(int listenFd = -1);
    // Joins the thread and closes every channel. Idempotent.
    void stop();
    // Any thread: serves a connected socket (taken over) from now on.
    std::shared_ptr<LinkChannel> adopt(int fd);

private:
    void run();
    void acceptAll();
    void drop(size_t index);

    const QByteArray m_threadName;
    Handler& m_handler;
    std::shared_ptr<LinkBufferPool> m_pool;
    std::shared_ptr<LinkWaker> m_waker;
    int m_listenFd = -1;
    std::thread m_thread;
    std::atomic<bool> m_stop { false };

    std::mutex m_mutex; // guards m_incoming
    std::vector<std::shared_ptr<LinkChannel>> m_incoming;
    // Loop thread only.
    std::vector<std::shared_ptr<LinkChannel>> m_channels;
};
