#pragma once
// One end of a stand-in link: a connected, non-blocking Unix stream socket
// with the message framing of LinkWire.h.
//
// Any thread may post messages; they wait in three bounded lanes that the
// owning LinkLoop's thread drains in the order control, audio, video. A slow
// peer therefore costs dropped messages, never memory or a blocked poster:
// - control (tally, metadata): the oldest is dropped beyond kControlDepth;
// - audio: the oldest block is dropped beyond kAudioDepth;
// - video: only the newest picture waits; a newer one replaces it.
// Reading and writing happen only on the loop thread (readAvailable,
// writeAvailable). The channel owns its socket and closes it when the last
// share of the channel is dropped.
#include "LinkBufferPool.h"
#include "LinkWire.h"
#include "base/LinkWaker.h"

#include <atomic>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>

class LinkChannel {
public:
    enum class Lane { Control, Audio, Video };
    static constexpr size_t kControlDepth = 256;
    static constexpr size_t kAudioDepth = 32;

    // Takes ownership of fd and makes it non-blocking.
    LinkChannel(int fd, std::shared_ptr<LinkBufferPool> pool, std::shared_ptr<LinkWaker> waker);
    ~LinkChannel();
    LinkChannel(const LinkChannel&) = delete;
    LinkChannel& operator=(const LinkChannel&) = delete;

    // Any thread. False (and nothing queued) once the channel is closed.
    bool post(Lane lane, linkwire::Type type, LinkBufferPtr payload);
    // Any thread: asks the loop to drop the channel; posts fail from now on.
    void close();
    bool isClosed() const { return m_closed.load(); }
    bool closeRequested() const { return m_closeRequested.load(); }
    size_t queued(Lane lane) const;
    uint64_t dropped() const { return m_dropped.load(); }

    // Loop thread only.
    int fd() const { return m_fd; }
    bool wantsWrite() const;
    // Receives a complete message; returns false to reject it (bad content),
    // which closes the channel.
    using Deliver = std::function<bool(linkwire::Type, LinkBufferPtr)>;
    // Reads what the socket holds (bounded per call); false when the peer
    // closed, failed or sent something that is not a message.
    bool readAvailable(const Deliver& deliver);
    // Writes queued messages until the socket is full; false when the peer is gone.
    bool writeAvailable();
    void markClosed();

private:
    struct Outgoing {
        linkwire::Header header;
        LinkBufferPtr payload;
    };
    bool takeNext();

    const int m_fd;
    std::shared_ptr<LinkBufferPool> m_pool;
    std::shared_ptr<LinkWaker> m_waker;
    std::atomic<bool> m_closed { false };
    std::atomic<bool> m_closeRequested { false };
    std::atomic<uint64_t> m_dropped { 0 };

    mutable std::mutex m_mutex; // guards the three lanes
    std::deque<Outgoing> m_control;
    std::deque<Outgoing> m_audio;
    std::deque<Outgoing> m_video;

    // Loop thread only: the message being written and how much of it went out.
    bool m_writing = false;
    Outgoing m_current {};
    size_t m_currentSent = 0;

    // Loop thread only: the message being read.
    linkwire::Header m_inHeader {};
    size_t m_inGot = 0;
    bool m_inPayload = false;
    LinkBufferPtr m_inBuffer;
};
