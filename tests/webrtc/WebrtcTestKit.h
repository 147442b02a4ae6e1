#pragma once
// Fixtures for the WebRTC tests: an event loop pumped by a thread of its
// own (as the network thread pumps the real one), and a browser-like peer
// made of our own classes in the client role: STUN checks, a DTLS client
// and an SRTP receiver on a loopback UDP socket.
#include "TimeBudget.h"
#include "webrtc_transport/EventLoop.h"
#include "webrtc_transport/MyDtlsTransport.h"
#include "webrtc_transport/SrtpChannel.h"
#include "webrtc_transport/StunPacket.h"

#include <QJsonObject>
#include <QRegularExpression>
#include <QString>

#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace webrtctest {

inline sockaddr_in loopback(unsigned short port)
{
    sockaddr_in a {};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return a;
}

// True when nobody holds the UDP port any more.
inline bool portIsFree(unsigned short port)
{
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in a = loopback(port);
    a.sin_addr.s_addr = htonl(INADDR_ANY);
    const bool free = ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    ::close(fd);
    return free;
}

// What a browser takes from a get_sdp reply.
struct Offer {
    QString id;
    unsigned short port = 0;
    std::string ufrag, pwd;
};

inline Offer parseOffer(const QJsonObject& reply)
{
    Offer o;
    const QJsonObject data = reply.value("data").toObject();
    o.id = data.value("session_id").toString();
    const QString sdp = data.value("sdp").toString();
    o.ufrag = QRegularExpression("a=ice-ufrag:(\\S+)").match(sdp).captured(1).toStdString();
    o.pwd = QRegularExpression("a=ice-pwd:(\\S+)").match(sdp).captured(1).toStdString();
    o.port = QRegularExpression("127\\.0\\.0\\.1 (\\d+) typ host").match(sdp).captured(1).toUShort();
    return o;
}

// Runs loop.loop() and then onPass() on a thread until destroyed.
class LoopPump {
public:
    explicit LoopPump(EventLoop& loop, std::function<void()> onPass = {})
        : m_loop(loop)
        , m_onPass(std::move(onPass))
        , m_thread([this] {
            while (m_run) {
                m_loop.loop(20);
                if (m_onPass)
                    m_onPass();
            }
        })
    {
    }
    ~LoopPump()
    {
        m_run = false;
        m_loop.wakeup();
        m_thread.join();
    }

private:
    EventLoop& m_loop;
    std::function<void()> m_onPass;
    std::atomic<bool> m_run { true };
    std::thread m_thread;
};

// A plain loopback UDP socket for the peer side.
class PeerSocket {
public:
    // host: the loopback address to send from (127.0.0.2 and the like stand
    // for other machines).
    explicit PeerSocket(const char* host = "127.0.0.1")
    {
        m_fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_in a = loopback(0);
        ::inet_pton(AF_INET, host, &a.sin_addr);
        // A socket that could not be bound keeps port 0, which no test can
        // mistake for a peer.
        if (::bind(m_fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0)
            return;
        socklen_t len = sizeof a;
        ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&a), &len);
        m_port = ntohs(a.sin_port);
    }
    ~PeerSocket() { ::close(m_fd); }
    PeerSocket(const PeerSocket&) = delete;
    PeerSocket& operator=(const PeerSocket&) = delete;

    unsigned short port() const { return m_port; }
    void sendTo(unsigned short port, const void* data, size_t len)
    {
        const sockaddr_in to = loopback(port);
        ::sendto(m_fd, data, len, 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
    }
    void sendTo(unsigned short port, const std::vector<uint8_t>& bytes) { sendTo(port, bytes.data(), bytes.size()); }
    // The next datagram within timeoutMs; empty when none came.
    std::vector<uint8_t> receive(int timeoutMs)
    {
        pollfd p { m_fd, POLLIN, 0 };
        if (::poll(&p, 1, timeoutMs) <= 0)
            return {};
        std::vector<uint8_t> buf(65536);
        const ssize_t n = ::recv(m_fd, buf.data(), buf.size(), 0);
        buf.resize(n > 0 ? size_t(n) : 0);
        return buf;
    }

private:
    int m_fd = -1;
    unsigned short m_port = 0;
};

// A Binding request as a browser sends it (RFC 8445 §7.1.2): USERNAME
// "<ufrag>:<peer>", PRIORITY, ICE-CONTROLLING, MESSAGE-INTEGRITY, FINGERPRINT.
inline std::vector<uint8_t> bindingRequest(
    const std::string& username, const std::string& password, uint32_t priority = 1853817087, uint8_t idSeed = 1)
{
    uint8_t tid[12];
    for (int i = 0; i < 12; ++i)
        tid[i] = uint8_t(idSeed * 31 + i);
    RTC::StunPacket request(RTC::StunPacket::Class::Request, 1, tid, nullptr, 0);
    request.SetUsername(username);
    if (priority)
        request.SetPriority(priority);
    request.SetIceControlling(0x1234567890ULL);
    request.Authenticate(password);
    std::vector<uint8_t> out(512);
    out.resize(request.Serialize(out.data()));
    return out;
}

// True when a DTLS datagram holds a ChangeCipherSpec record: the server's
// final flight.
inline bool holdsChangeCipherSpec(const std::vector<uint8_t>& d)
{
    for (size_t pos = 0; pos + 13 <= d.size(); pos += 13 + (size_t(d[pos + 11]) << 8 | d[pos + 12]))
        if (d[pos] == 20)
            return true;
    return false;
}

// The browser's side of one session, driven from the test thread.
class LoopbackPeer {
public:
    LoopbackPeer()
        : dtls(std::make_shared<MyDtlsTransport>(false))
    {
        dtls->dtlsOutputCallback
            = [this](const char* data, int len) { socket.sendTo(m_serverPort, data, size_t(len)); };
        dtls->handshakeCompletedCallback = [this](const std::string& send, const std::string& recv) {
            keysOk = srtp.setRtpParams(send, recv);
            completed = true;
        };
        dtls->handshakeFailedCallback = [this](const std::string&) { failed = true; };
    }

    // Checks the server's ICE; true when it answered with a success.
    bool check(unsigned short serverPort, const std::string& ufrag, const std::string& pwd)
    {
        m_serverPort = serverPort;
        socket.sendTo(serverPort, bindingRequest(ufrag + ":peer", pwd));
        const auto reply = receiveNonMedia(2000);
        return reply.size() >= 20 && reply[0] == 0x01 && reply[1] == 0x01;
    }

    // Runs the DTLS handshake as client; dropFinalFlight loses the server's
    // last flight once, so only a retransmission can finish the handshake.
    bool handshake(bool dropFinalFlight, int timeoutMs = 8000)
    {
        dtls->Start();
        bool dropped = false;
        const auto deadline
            = std::chrono::steady_clock::now() + std::chrono::milliseconds(testsupport::budgetMs(timeoutMs));
        while (!completed && !failed && std::chrono::steady_clock::now() < deadline) {
            const auto d = socket.receive(50);
            if (!d.empty() && MyDtlsTransport::isDtlsPacket(reinterpret_cast<const char*>(d.data()), int(d.size()))) {
                if (dropFinalFlight && !dropped && holdsChangeCipherSpec(d)) {
                    dropped = true;
                    lostFlights++;
                    continue;
                }
                dtls->InputData(reinterpret_cast<const char*>(d.data()), int(d.size()));
            }
            dtls->OnTimer();
        }
        return completed && keysOk;
    }

    // The next SRTP packet from the server, unprotected; empty on time-out.
    std::vector<uint8_t> receiveRtp(int timeoutMs)
    {
        const auto deadline
            = std::chrono::steady_clock::now() + std::chrono::milliseconds(testsupport::budgetMs(timeoutMs));
        while (std::chrono::steady_clock::now() < deadline) {
            auto d = socket.receive(50);
            if (d.size() >= 12 && (d[0] & 0xC0) == 0x80) {
                d.resize(d.size() + 16);
                int len = int(d.size() - 16);
                if (srtp.unprotectRtp(reinterpret_cast<char*>(d.data()), &len) != 0)
                    continue;
                d.resize(size_t(len));
                return d;
            }
        }
        return {};
    }

    std::vector<uint8_t> receiveNonMedia(int timeoutMs)
    {
        const auto deadline
            = std::chrono::steady_clock::now() + std::chrono::milliseconds(testsupport::budgetMs(timeoutMs));
        while (std::chrono::steady_clock::now() < deadline) {
            auto d = socket.receive(50);
            if (!d.empty() && (d[0] & 0xC0) != 0x80)
                return d;
        }
        return {};
    }

    PeerSocket socket;
    std::shared_ptr<MyDtlsTransport> dtls;
    erizo::SrtpChannel srtp;
    bool completed = false;
    bool failed = false;
    bool keysOk = false;
    int lostFlights = 0;

private:
    unsigned short m_serverPort = 0;
};

} // namespace webrtctest
