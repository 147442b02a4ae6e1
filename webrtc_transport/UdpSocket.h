#pragma once
// UdpSocket: one non-blocking IPv4 UDP socket of a WebRTC session, bound to
// every local address, registered with an EventLoop.
//
// Owner: its WebRtcTransport (shared pointer). Thread: Start on the thread
// that builds the session, reads and the destructor on the loop's thread,
// Send from the network thread (STUN, DTLS) and the encoder thread (media).
#include "LogThrottle.h"

#include <netinet/in.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>

class Channel;
class EventLoop;

class UdpSocket {
public:
    static constexpr int kReceiveSize = 2048;

    UdpSocket(EventLoop* loop, unsigned short port);
    ~UdpSocket();
    UdpSocket(const UdpSocket&) = delete;
    UdpSocket& operator=(const UdpSocket&) = delete;

    // Opens, binds and registers; false (nothing registered) when the socket
    // cannot be made or bound.
    bool Start();
    // One sendto; the byte count or -1. A full send buffer drops the packet
    // (counted) instead of blocking the caller.
    int Send(const char* data, int len, const sockaddr_in& to);

    void setReadCallback(std::function<void(char*, int, sockaddr_in*)> cb) { m_readCallback = std::move(cb); }
    unsigned short port() const { return m_port; }
    int fd() const { return m_fd; }
    uint64_t droppedSends() const { return m_droppedSends; }
    uint64_t droppedOversized() const { return m_droppedOversized; }

private:
    void readDatagrams();

    std::function<void(char*, int, sockaddr_in*)> m_readCallback;
    int m_fd = -1;
    EventLoop* m_loop;
    unsigned short m_port;
    std::shared_ptr<Channel> m_channel;
    std::atomic<uint64_t> m_droppedSends { 0 };
    uint64_t m_droppedOversized = 0;
    LogThrottle m_oversizedLog;
    char m_buffer[kReceiveSize];
};
