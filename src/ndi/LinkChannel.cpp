#include "LinkChannel.h"

#include <QDebug>

#include <cerrno>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

namespace {

// Enough to keep one picture in the socket while the peer catches up; the
// kernel caps it at its own limit.
constexpr int kSocketBuffer = 4 * 1024 * 1024;
// Per readAvailable call, so one busy peer cannot starve the others of a loop.
constexpr size_t kReadBudget = 16 * 1024 * 1024;

bool knownType(uint32_t type)
{
    return type >= uint32_t(linkwire::Type::Hello) && type <= uint32_t(linkwire::Type::Audio);
}

bool wouldBlock(int err)
{
    return err == EAGAIN || err == EWOULDBLOCK;
}

} // namespace

LinkChannel::LinkChannel(int fd, std::shared_ptr<LinkBufferPool> pool, std::shared_ptr<LinkWaker> waker)
    : m_fd(fd)
    , m_pool(std::move(pool))
    , m_waker(std::move(waker))
{
    const int flags = ::fcntl(m_fd, F_GETFL, 0);
    ::fcntl(m_fd, F_SETFL, flags | O_NONBLOCK);
    ::setsockopt(m_fd, SOL_SOCKET, SO_SNDBUF, &kSocketBuffer, sizeof kSocketBuffer);
    ::setsockopt(m_fd, SOL_SOCKET, SO_RCVBUF, &kSocketBuffer, sizeof kSocketBuffer);
}

LinkChannel::~LinkChannel()
{
    ::close(m_fd);
}

bool LinkChannel::post(Lane lane, linkwire::Type type, LinkBufferPtr payload)
{
    Outgoing out { { linkwire::kMagic, uint32_t(type), payload ? payload->size() : 0 }, std::move(payload) };
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_closed.load() || m_closeRequested.load())
            return false;
        // Only the newest picture is worth waiting; other lanes keep a backlog.
        std::deque<Outgoing>& queue = lane == Lane::Control ? m_control : lane == Lane::Audio ? m_audio : m_video;
        const size_t depth = lane == Lane::Control ? kControlDepth : lane == Lane::Audio ? kAudioDepth : 1;
        if (queue.size() >= depth) {
            queue.pop_front();
            ++m_dropped;
        }
        queue.push_back(std::move(out));
    }
    m_waker->wake();
    return true;
}

void LinkChannel::close()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_closeRequested = true;
    }
    m_waker->wake();
}

size_t LinkChannel::queued(Lane lane) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    switch (lane) {
    case Lane::Control:
        return m_control.size();
    case Lane::Audio:
        return m_audio.size();
    case Lane::Video:
        return m_video.size();
    }
    return 0;
}

bool LinkChannel::wantsWrite() const
{
    if (m_writing)
        return true;
    std::lock_guard<std::mutex> lock(m_mutex);
    return !m_control.empty() || !m_audio.empty() || !m_video.empty();
}

void LinkChannel::markClosed()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_closed = true;
    m_control.clear();
    m_audio.clear();
    m_video.clear();
    m_writing = false;
    m_current = {};
    m_inBuffer.reset();
}

bool LinkChannel::takeNext()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    for (std::deque<Outgoing>* lane : { &m_control, &m_audio, &m_video }) {
        if (!lane->empty()) {
            m_current = std::move(lane->front());
            lane->pop_front();
            m_currentSent = 0;
            m_writing = true;
            return true;
        }
    }
    return false;
}

bool LinkChannel::writeAvailable()
{
    for (;;) {
        if (!m_writing && !takeNext())
            return true;
        const size_t headerSize = sizeof(linkwire::Header);
        const size_t payloadSize = m_current.payload ? m_current.payload->size() : 0;
        iovec iov[2];
        int count = 0;
        if (m_currentSent < headerSize) {
            iov[count++] = { reinterpret_cast<char*>(&m_current.header) + m_currentSent, headerSize - m_currentSent };
            if (payloadSize)
                iov[count++] = { m_current.payload->data(), payloadSize };
        } else {
            const size_t done = m_currentSent - headerSize;
            iov[count++] = { m_current.payload->data() + done, payloadSize - done };
        }
        msghdr msg {};
        msg.msg_iov = iov;
        msg.msg_iovlen = size_t(count);
        const ssize_t n = ::sendmsg(m_fd, &msg, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return wouldBlock(errno);
        }
        m_currentSent += size_t(n);
        if (m_currentSent == headerSize + payloadSize) {
            m_writing = false;
            m_current = {};
        }
    }
}

bool LinkChannel::readAvailable(const Deliver& deliver)
{
    size_t budget = kReadBudget;
    while (budget > 0) {
        uint8_t* target;
        size_t want;
        if (!m_inPayload) {
            target = reinterpret_cast<uint8_t*>(&m_inHeader) + m_inGot;
            want = sizeof m_inHeader - m_inGot;
        } else {
            target = m_inBuffer->data() + m_inGot;
            want = m_inBuffer->size() - m_inGot;
        }
        ssize_t n = 0;
        if (want > 0) {
            n = ::read(m_fd, target, want);
            if (n == 0)
                return false;
            if (n < 0) {
                if (errno == EINTR)
                    continue;
                return wouldBlock(errno);
            }
            m_inGot += size_t(n);
            budget -= std::min(budget, size_t(n));
        }
        if (!m_inPayload) {
            if (m_inGot < sizeof m_inHeader)
                continue;
            if (m_inHeader.magic != linkwire::kMagic || !knownType(m_inHeader.type)
                || m_inHeader.length > linkwire::kMaxPayload) {
                qWarning() << "[ndi] link: dropping a peer that sent a bad header, type" << m_inHeader.type << "length"
                           << m_inHeader.length;
                return false;
            }
            m_inBuffer = m_pool->acquire(size_t(m_inHeader.length));
            m_inPayload = true;
            m_inGot = 0;
        }
        if (m_inPayload && m_inGot == m_inBuffer->size()) {
            const auto type = linkwire::Type(m_inHeader.type);
            LinkBufferPtr payload = std::move(m_inBuffer);
            m_inPayload = false;
            m_inGot = 0;
            if (!deliver(type, std::move(payload)))
                return false;
        }
    }
    return true;
}
