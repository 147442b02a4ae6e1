#include "UdpSocket.h"

#include "Channel.h"
#include "EventLoop.h"
#include "Socket.h"
#include "base/Clock.h"

#include <QDebug>

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <sys/socket.h>

UdpSocket::UdpSocket(EventLoop* loop, unsigned short port)
    : m_loop(loop)
    , m_port(port)
{
}

UdpSocket::~UdpSocket()
{
    if (m_channel)
        m_loop->removeChannel(m_channel.get());
    Socket::Close(m_fd);
    m_channel.reset();
    m_readCallback = nullptr;
}

bool UdpSocket::Start()
{
    m_fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (m_fd < 0) {
        qDebug() << "UdpSocket: socket failed:" << std::strerror(errno);
        return false;
    }
    sockaddr_in addr {};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_ANY);
    addr.sin_port = htons(m_port);
    if (::bind(m_fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        qDebug() << "UdpSocket: bind to port" << m_port << "failed:" << std::strerror(errno);
        Socket::Close(m_fd);
        m_fd = -1;
        return false;
    }
    socklen_t len = sizeof addr;
    if (::getsockname(m_fd, reinterpret_cast<sockaddr*>(&addr), &len) == 0 && addr.sin_family == AF_INET)
        m_port = ntohs(addr.sin_port);
    m_channel = std::make_shared<Channel>(m_loop, m_fd);
    m_channel->setReadCallback([this] { readDatagrams(); });
    m_channel->setEvents(m_channel->events() | Channel::kReadable);
    m_channel->update();
    return true;
}

void UdpSocket::readDatagrams()
{
    // Level-triggered: what is left after this batch is reported next cycle,
    // so one busy socket cannot starve the others.
    for (int i = 0; i < 64; ++i) {
        sockaddr_in from {};
        socklen_t fromLen = sizeof from;
        // MSG_TRUNC makes the kernel report the real size: a datagram larger
        // than the buffer is dropped whole instead of being handed on cut.
        const ssize_t n
            = ::recvfrom(m_fd, m_buffer, sizeof m_buffer, MSG_TRUNC, reinterpret_cast<sockaddr*>(&from), &fromLen);
        if (n < 0)
            return;
        if (n > ssize_t(sizeof m_buffer)) {
            ++m_droppedOversized;
            const int64_t now = monotonicMs();
            if (m_oversizedLog.event(now))
                qDebug() << "UdpSocket: dropped an oversized datagram of" << n << "bytes";
            else if (const uint64_t count = m_oversizedLog.takeSummary(now))
                qDebug() << "UdpSocket:" << count << "oversized datagrams dropped in the last"
                         << m_oversizedLog.intervalSeconds() << "s";
            continue;
        }
        if (n > 0 && m_readCallback)
            m_readCallback(m_buffer, int(n), &from);
    }
}

int UdpSocket::Send(const char* data, int len, const sockaddr_in& to)
{
    if (m_fd < 0 || len <= 0)
        return -1;
    const ssize_t n = ::sendto(
        m_fd, data, size_t(len), MSG_DONTWAIT | MSG_NOSIGNAL, reinterpret_cast<const sockaddr*>(&to), sizeof to);
    if (n < 0) {
        if (errno == EAGAIN || errno == EWOULDBLOCK || errno == ENOBUFS)
            ++m_droppedSends;
        return -1;
    }
    return int(n);
}
