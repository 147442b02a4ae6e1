#include "WebRtcTransport.h"

#include "Crypto.h"
#include "IceServer.h"
#include "MyDtlsTransport.h"
#include "SrtpChannel.h"
#include "StunPacket.h"
#include "UdpSocket.h"
#include "base/Clock.h"

#include <QDebug>

#include <cstring>
#include <sstream>

namespace {

uint64_t packAddress(const sockaddr_in& a)
{
    return uint64_t(1) << 48 | uint64_t(a.sin_addr.s_addr) << 16 | a.sin_port;
}

} // namespace

WebRtcTransport::WebRtcTransport(EventLoop* loop, unsigned short port)
{
    m_socket = std::make_shared<UdpSocket>(loop, port);
    m_srtp = std::make_shared<erizo::SrtpChannel>();
    m_dtls = std::make_shared<MyDtlsTransport>(true);
    // RFC 8445 §5.3: at least 24 bits of randomness in the ufrag, 128 in the
    // password; these draw 4 and 24 characters of 36 from OpenSSL.
    m_ufrag = Utils::Crypto::GetRandomString(4);
    m_pwd = Utils::Crypto::GetRandomString(24);
    m_iceServer = std::make_shared<IceServer>(m_ufrag, m_pwd);

    m_socket->setReadCallback([this](char* data, int len, sockaddr_in* from) { onInputDataPacket(data, len, from); });
    m_iceServer->SetIceServerCompletedCallback([this] { OnIceServerCompleted(); });
    m_iceServer->SetSendCallback(
        [this](const char* data, int len, const sockaddr_in* to) { m_socket->Send(data, len, *to); });
    m_dtls->handshakeCompletedCallback
        = [this](const std::string& send, const std::string& recv) { OnDtlsCompleted(send, recv); };
    m_dtls->handshakeFailedCallback = [this](const std::string& reason) { close(reason); };
    m_dtls->dtlsOutputCallback = [this](const char* data, int len) {
        sockaddr_in peer;
        if (peerAddress(peer))
            m_socket->Send(data, len, peer);
    };
    m_rtpMaker.outputCallback = [this](char* data, int len) { WriteRtpPacket(data, len); };
    m_lastStun = monotonicSeconds();
    m_lastStunMs = monotonicMs();
}

WebRtcTransport::~WebRtcTransport()
{
    // The socket goes first: no datagram can reach a half-destroyed session.
    m_socket.reset();
    m_iceServer.reset();
    m_dtls.reset();
    m_srtp.reset();
}

bool WebRtcTransport::Start()
{
    return m_socket->Start();
}

unsigned short WebRtcTransport::LocalPort() const
{
    // An unbound socket has no port to offer.
    return m_socket && m_socket->fd() >= 0 ? m_socket->port() : 0;
}

int WebRtcTransport::SocketFd() const
{
    return m_socket ? m_socket->fd() : -1;
}

std::string WebRtcTransport::GetFingerprint() const
{
    return m_dtls->GetFingerprint();
}

uint64_t WebRtcTransport::RefusedChecks() const
{
    return m_iceServer ? m_iceServer->RefusedChecks() : 0;
}

uint64_t WebRtcTransport::DroppedSends() const
{
    return m_socket ? m_socket->droppedSends() : 0;
}

std::string WebRtcTransport::GetLocalSdp(const std::string&, const std::string&, int, int,
    const std::string& videoCodec, const std::string& videoDirection, int, const std::string& ip) const
{
    const unsigned short port = LocalPort();
    if (port == 0 || ip.empty() || videoCodec != "H264")
        return std::string();
    const int pt = RtpMaker::kPayloadType;
    std::ostringstream sdp;
    const char* crlf = "\r\n";
    sdp << "v=0" << crlf;
    sdp << "o=- 1495799811084970 2 IN IP4 " << ip << crlf;
    sdp << "s=-" << crlf;
    sdp << "t=0 0" << crlf;
    sdp << "a=group:BUNDLE video" << crlf;
    sdp << "a=msid-semantic: WMS janus" << crlf;
    sdp << "a=ice-lite " << crlf;
    sdp << "m=video 9 UDP/TLS/RTP/SAVPF " << pt << crlf;
    sdp << "c=IN IP4 0.0.0.0" << crlf;
    sdp << "a=ice-ufrag:" << m_ufrag << crlf;
    sdp << "a=ice-pwd:" << m_pwd << crlf;
    sdp << "a=ice-options:trickle" << crlf;
    sdp << "a=fingerprint:sha-256 " << GetFingerprint() << crlf;
    sdp << "a=setup:actpass" << crlf;
    sdp << "a=mid:video" << crlf;
    if (videoDirection == "sendonly" || videoDirection == "recvonly" || videoDirection == "sendrecv")
        sdp << "a=" << videoDirection << crlf;
    sdp << "a=rtcp-mux" << crlf;
    sdp << "a=rtpmap:" << pt << " H264/90000" << crlf;
    sdp << "a=fmtp:" << pt << " level-asymmetry-allowed=1;packetization-mode=1;profile-level-id=42e01f" << crlf;
    sdp << "a=candidate:1 1 udp 12345678 " << ip << " " << port << " typ host" << crlf;
    sdp << "a=end-of-candidate" << crlf;
    return sdp.str();
}

bool WebRtcTransport::peerAddress(sockaddr_in& out) const
{
    const uint64_t packed = m_peer.load(std::memory_order_acquire);
    if (!packed)
        return false;
    std::memset(&out, 0, sizeof out);
    out.sin_family = AF_INET;
    out.sin_addr.s_addr = uint32_t(packed >> 16);
    out.sin_port = uint16_t(packed);
    return true;
}

void WebRtcTransport::onInputDataPacket(char* data, int len, sockaddr_in* from)
{
    if (len < 1 || !from)
        return;
    const auto* bytes = reinterpret_cast<const uint8_t*>(data);
    if (RTC::StunPacket::IsStun(bytes, size_t(len))) {
        std::unique_ptr<RTC::StunPacket> packet(RTC::StunPacket::Parse(bytes, size_t(len)));
        if (!packet)
            return;
        // Only a check the browser authenticated keeps the session alive:
        // anyone can send a STUN packet to an open port.
        if (m_iceServer->ProcessStunPacket(packet.get(), from)) {
            m_lastStun = monotonicSeconds();
            m_lastStunMs = monotonicMs();
        }
        return;
    }
    if (MyDtlsTransport::isDtlsPacket(data, len)) {
        // DTLS only from the address the latest authenticated check came from.
        if (m_peer.load(std::memory_order_acquire) != packAddress(*from))
            return;
        m_dtls->InputData(data, len);
        return;
    }
    if (len >= 12 && (bytes[0] & 0xC0) == 0x80) {
        // RFC 5761 §4: payload types 192-223 are RTCP; not used here.
        if ((bytes[1] & 0xE0) == 0xC0)
            return;
        if (len > int(sizeof m_recvBuffer))
            return;
        std::memcpy(m_recvBuffer, data, size_t(len));
        int n = len;
        m_srtp->unprotectRtp(m_recvBuffer, &n); // received media is not used
    }
}

void WebRtcTransport::OnIceServerCompleted()
{
    m_peer.store(packAddress(m_iceServer->GetPeerTuple()), std::memory_order_release);
    m_iceCompleted.store(true, std::memory_order_release);
    m_dtls->Start();
}

void WebRtcTransport::OnDtlsCompleted(const std::string& sendKey, const std::string& recvKey)
{
    if (!m_srtp->setRtpParams(sendKey, recvKey)) {
        close("SRTP keys refused");
        return;
    }
    m_dtlsCompleted.store(true, std::memory_order_release);
}

void WebRtcTransport::OnTimer()
{
    m_iceServer->OnTimer(monotonicMs());
    if (!IsClosed())
        m_dtls->OnTimer();
}

void WebRtcTransport::close(const std::string& reason)
{
    if (m_closed.exchange(true, std::memory_order_acq_rel))
        return;
    qDebug() << "WebRTC session on port" << LocalPort() << "ends:" << reason.c_str();
}

void WebRtcTransport::SendH264Frame(const char* data, int len, unsigned int timestamp)
{
    if (!DtlsCompleted() || IsClosed())
        return;
    m_rtpMaker.InputH264Frame(data, len, timestamp);
}

void WebRtcTransport::WriteRtpPacket(char* data, int len)
{
    if (!DtlsCompleted() || len <= 0 || len + erizo::SrtpChannel::kTagLength > int(sizeof m_sendBuffer))
        return;
    sockaddr_in peer;
    if (!peerAddress(peer))
        return;
    std::memcpy(m_sendBuffer, data, size_t(len));
    int n = len;
    if (m_srtp->protectRtp(m_sendBuffer, &n) != 0)
        return;
    if (m_socket->Send(m_sendBuffer, n, peer) > 0)
        ++m_sentPackets;
}
