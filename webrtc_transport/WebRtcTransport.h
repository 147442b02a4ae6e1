#pragma once
// WebRtcTransport: one browser session seen from the network: its UDP
// socket, the ICE-lite responder, the DTLS server endpoint, the SRTP channel
// and the H.264 packetizer.
//
// Owner: WebrtcManager (shared pointer); the last reference is dropped on
// the WebRTC network thread, between two polls. Threads: construction,
// Start and GetLocalSdp on the thread that makes the session; datagrams,
// DTLS, the timer and destruction on the network thread; SendH264Frame on
// the encoder's thread under the manager's lock. What the two meet on is
// atomic: the DTLS-completed and closed flags (release/acquire) and the peer
// address (one 64-bit word).
#include "RtpMaker.h"

#include <netinet/in.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

class EventLoop;
class IceServer;
class MyDtlsTransport;
class UdpSocket;
namespace erizo {
class SrtpChannel;
}

class WebRtcTransport {
public:
    WebRtcTransport(EventLoop* loop, unsigned short port);
    ~WebRtcTransport();
    WebRtcTransport(const WebRtcTransport&) = delete;
    WebRtcTransport& operator=(const WebRtcTransport&) = delete;

    // Binds and registers the socket; false when it cannot be bound.
    bool Start();
    // The 21-line offer; empty when the socket has no port or ip is empty.
    std::string GetLocalSdp(const std::string& audioCodec, const std::string& audioDirection, int audioClockRate,
        int audioChannels, const std::string& videoCodec, const std::string& videoDirection, int unused,
        const std::string& ip) const;

    void SendH264Frame(const char* data, int len, unsigned int timestamp);
    void WriteRtpPacket(char* data, int len);
    // The demultiplexer of every received datagram (RFC 7983 §7).
    void onInputDataPacket(char* data, int len, sockaddr_in* from);
    void OnIceServerCompleted();
    void OnDtlsCompleted(const std::string& sendKey, const std::string& recvKey);
    // Network thread, every pass: DTLS retransmission.
    void OnTimer();

    // Monotonic whole seconds of the latest authenticated Binding request
    // (the creation time until the first).
    int64_t LastStunTime() const { return m_lastStun; }
    int64_t LastStunMs() const { return m_lastStunMs; }
    bool IsClosed() const { return m_closed.load(std::memory_order_acquire); }
    bool DtlsCompleted() const { return m_dtlsCompleted.load(std::memory_order_acquire); }
    // An authenticated Binding request has arrived.
    bool IceCompleted() const { return m_iceCompleted.load(std::memory_order_acquire); }
    // STUN requests answered with an error.
    uint64_t RefusedChecks() const;
    unsigned short LocalPort() const;
    int SocketFd() const;
    const std::string& GetUfrag() const { return m_ufrag; }
    const std::string& GetPwd() const { return m_pwd; }
    std::string GetFingerprint() const;
    uint64_t SentPackets() const { return m_sentPackets; }
    uint64_t DroppedSends() const;

private:
    void close(const std::string& reason);
    bool peerAddress(sockaddr_in& out) const;

    std::shared_ptr<UdpSocket> m_socket;
    std::shared_ptr<MyDtlsTransport> m_dtls;
    std::atomic<int64_t> m_lastStun { 0 };
    std::atomic<int64_t> m_lastStunMs { 0 };
    std::shared_ptr<erizo::SrtpChannel> m_srtp;
    char m_sendBuffer[10240];
    char m_recvBuffer[10240];
    RtpMaker m_rtpMaker;
    std::atomic<bool> m_iceCompleted { false };
    std::atomic<bool> m_dtlsCompleted { false };
    std::atomic<bool> m_closed { false };
    // 0 = no peer yet; else 1 << 48 | IPv4 address << 16 | port (network order).
    std::atomic<uint64_t> m_peer { 0 };
    std::string m_ufrag;
    std::string m_pwd;
    std::shared_ptr<IceServer> m_iceServer;
    std::atomic<uint64_t> m_sentPackets { 0 };
};
