// One session's transport against a browser-like peer of our own classes on
// loopback: ICE-lite checks, the DTLS handshake (the peer as client, once
// with the server's final flight lost) and SRTP-protected H.264, then the
// offer's exact text and the inputs the demultiplexer must drop.
#include "LogCapture.h"
#include "WebrtcTestKit.h"
#include "webrtc_transport/UdpSocket.h"
#include "webrtc_transport/WebRtcTransport.h"

#include <gtest/gtest.h>

#include <QStringList>

#include <regex>

using namespace webrtctest;

namespace {

class Session : public ::testing::Test {
protected:
    void SetUp() override
    {
        transport = std::make_shared<WebRtcTransport>(&loop, 0);
        ASSERT_TRUE(transport->Start());
        port = transport->LocalPort();
        // As the network thread does: the loop, then the DTLS timer.
        pump = std::make_unique<LoopPump>(loop, [t = transport] { t->OnTimer(); });
    }
    void TearDown() override
    {
        pump.reset();
        transport.reset();
        EXPECT_EQ(loop.channelCount(), 0u);
    }
    bool waitFor(const std::function<bool()>& pred, int ms = 3000)
    {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(testsupport::budgetMs(ms));
        while (!pred()) {
            if (std::chrono::steady_clock::now() > deadline)
                return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return true;
    }
    // A full ICE + DTLS run of the peer; true when both ends have keys.
    bool connect(LoopbackPeer& peer, bool dropFinalFlight = false)
    {
        if (!peer.check(port, transport->GetUfrag(), transport->GetPwd()))
            return false;
        return peer.handshake(dropFinalFlight) && waitFor([&] { return transport->DtlsCompleted(); });
    }

    EventLoop loop;
    std::shared_ptr<WebRtcTransport> transport;
    std::unique_ptr<LoopPump> pump;
    unsigned short port = 0;
};

std::vector<char> nal(uint8_t header, int length)
{
    std::vector<char> n(static_cast<size_t>(length));
    n[0] = char(header);
    for (int i = 1; i < length; ++i)
        n[size_t(i)] = char(i * 7);
    return n;
}

} // namespace

TEST_F(Session, PeerConnectsThroughStunAndDtlsAndDecryptsTheVideo)
{
    LoopbackPeer peer;
    ASSERT_TRUE(connect(peer));
    EXPECT_EQ(peer.lostFlights, 0);

    const auto idr = nal(0x65, 2000); // two FU-A fragments
    transport->SendH264Frame(idr.data(), int(idr.size()), 90000);
    const auto first = peer.receiveRtp(2000);
    const auto second = peer.receiveRtp(2000);
    ASSERT_EQ(first.size(), 1372u);
    ASSERT_EQ(second.size(), size_t(14 + 1999 - 1358));
    EXPECT_EQ(first[12], 0x7C);
    EXPECT_EQ(first[13], 0x85);
    EXPECT_EQ(second[13], 0x45);
    EXPECT_EQ(first[1] & 0x80, 0);
    EXPECT_EQ(second[1] & 0x80, 0x80);
    EXPECT_EQ(std::memcmp(idr.data() + 1, first.data() + 14, 1358), 0);
    EXPECT_EQ(transport->SentPackets(), 2u);
}

TEST_F(Session, AHandshakeWhoseFinalServerFlightIsLostStillCompletes)
{
    // The peer repeats its flight after its timer; the server, already
    // complete, must still hand that repeat to OpenSSL to send its flight again.
    LoopbackPeer peer;
    ASSERT_TRUE(connect(peer, true));
    EXPECT_EQ(peer.lostFlights, 1);
    const auto p = nal(0x41, 200);
    transport->SendH264Frame(p.data(), int(p.size()), 1);
    EXPECT_EQ(peer.receiveRtp(2000).size(), 212u);
}

TEST_F(Session, APeerThatClosesEndsTheSession)
{
    // A browser's pc.close() sends close_notify: the session ends at once
    // instead of lingering for the silence rule.
    LoopbackPeer peer;
    ASSERT_TRUE(connect(peer));
    EXPECT_FALSE(transport->IsClosed());
    peer.dtls->Close();
    EXPECT_TRUE(waitFor([&] { return transport->IsClosed(); }));
    const auto p = nal(0x41, 100);
    transport->SendH264Frame(p.data(), int(p.size()), 1);
    EXPECT_TRUE(peer.receiveRtp(300).empty());
}

TEST_F(Session, BadKeysNeverReachLibsrtpAndEndTheSession)
{
    // A short export or a key text that is not 30 bytes must end the
    // session, never mark it complete.
    transport->OnDtlsCompleted("", "");
    EXPECT_TRUE(transport->IsClosed());
    EXPECT_FALSE(transport->DtlsCompleted());
    const std::string shortKey = "AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA"; // 27 bytes
    auto other = std::make_shared<WebRtcTransport>(&loop, 0);
    other->OnDtlsCompleted(shortKey, shortKey);
    EXPECT_TRUE(other->IsClosed());
    EXPECT_FALSE(other->DtlsCompleted());
}

TEST_F(Session, OfferIsTheExactTwentyOneLines)
{
    const std::string sdp = transport->GetLocalSdp("", "", 8000, 1, "H264", "sendonly", 0, "127.0.0.1");
    const std::string expected = "v=0\r\n"
                                 "o=- 1495799811084970 2 IN IP4 127.0.0.1\r\n"
                                 "s=-\r\n"
                                 "t=0 0\r\n"
                                 "a=group:BUNDLE video\r\n"
                                 "a=msid-semantic: WMS janus\r\n"
                                 "a=ice-lite \r\n"
                                 "m=video 9 UDP/TLS/RTP/SAVPF 126\r\n"
                                 "c=IN IP4 0.0.0.0\r\n"
                                 "a=ice-ufrag:"
        + transport->GetUfrag() + "\r\na=ice-pwd:" + transport->GetPwd()
        + "\r\n"
          "a=ice-options:trickle\r\n"
          "a=fingerprint:sha-256 "
        + transport->GetFingerprint()
        + "\r\n"
          "a=setup:actpass\r\n"
          "a=mid:video\r\n"
          "a=sendonly\r\n"
          "a=rtcp-mux\r\n"
          "a=rtpmap:126 H264/90000\r\n"
          "a=fmtp:126 level-asymmetry-allowed=1;packetization-mode=1;profile-level-id=42e01f\r\n"
          "a=candidate:1 1 udp 12345678 127.0.0.1 "
        + std::to_string(port)
        + " typ host\r\n"
          "a=end-of-candidate\r\n";
    EXPECT_EQ(sdp, expected);
    EXPECT_TRUE(std::regex_match(transport->GetFingerprint(), std::regex("([0-9A-F]{2}:){31}[0-9A-F]{2}")));
    EXPECT_TRUE(std::regex_match(transport->GetUfrag() + transport->GetPwd(), std::regex("[0-9a-z]{28}")));
    EXPECT_EQ(transport->GetLocalSdp("", "", 8000, 1, "H264", "sendonly", 0, ""), "");
}

TEST_F(Session, BadInputIsDroppedAndOnlyAnAuthenticatedCheckKeepsTheSessionAlive)
{
    PeerSocket stranger;
    LoopbackPeer peer;
    const std::string user = transport->GetUfrag() + ":peer";
    auto garbageStun = bindingRequest(user, transport->GetPwd());
    garbageStun[30] ^= 0xFF; // breaks the fingerprint
    std::vector<uint8_t> clientHelloLike(60, 0x16);
    std::vector<uint8_t> rtp(100, 0);
    rtp[0] = 0x80;
    rtp[1] = 0x60;
    std::vector<uint8_t> rtcp = rtp;
    rtcp[1] = 0xC8;
    struct Case {
        const char* name;
        std::vector<uint8_t> bytes;
        int answerClass; // -1: no answer at all
    };
    const std::vector<Case> cases = {
        { "malformed STUN", garbageStun, -1 },
        { "wrong ufrag", bindingRequest("zzzz:peer", transport->GetPwd()), 0x0111 },
        { "wrong integrity", bindingRequest(user, "not-the-password-at-all!"), 0x0111 },
        { "DTLS before any check", clientHelloLike, -1 },
        { "stray RTP", rtp, -1 },
        { "stray RTCP", rtcp, -1 },
        { "one byte", { 0x00 }, -1 },
        { "unknown first byte", std::vector<uint8_t>(40, 0x70), -1 },
    };
    const int64_t created = transport->LastStunMs();
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    for (const Case& c : cases) {
        stranger.sendTo(port, c.bytes);
        const auto answer = stranger.receive(c.answerClass < 0 ? 150 : 2000);
        if (c.answerClass < 0) {
            EXPECT_TRUE(answer.empty()) << c.name;
        } else {
            ASSERT_GE(answer.size(), 20u) << c.name;
            EXPECT_EQ(answer[0] << 8 | answer[1], c.answerClass) << c.name;
            EXPECT_EQ(answer.size(), 36u) << c.name; // ERROR-CODE 401 + FINGERPRINT
        }
        EXPECT_EQ(transport->LastStunMs(), created) << c.name;
    }

    // The browser checks in: its check alone refreshes the session and
    // fixes where DTLS may come from.
    ASSERT_TRUE(peer.check(port, transport->GetUfrag(), transport->GetPwd()));
    EXPECT_TRUE(waitFor([&] { return transport->LastStunMs() > created; }));
    // A ClientHello from another address gets no answer ...
    auto strangerDtls = std::make_shared<MyDtlsTransport>(false);
    strangerDtls->dtlsOutputCallback = [&](const char* d, int n) { stranger.sendTo(port, d, size_t(n)); };
    strangerDtls->Start();
    EXPECT_TRUE(stranger.receive(300).empty());
    // ... garbage DTLS from the peer is survived, and the peer still connects.
    peer.socket.sendTo(port, clientHelloLike);
    ASSERT_TRUE(peer.handshake(false));
    EXPECT_TRUE(waitFor([&] { return transport->DtlsCompleted(); }));
}

TEST(Transport, ASocketThatCannotBeBoundGivesNoOfferAndRegistersNothing)
{
    EventLoop loop;
    WebRtcTransport first(&loop, 0);
    ASSERT_TRUE(first.Start());
    WebRtcTransport second(&loop, first.LocalPort()); // the port is taken
    EXPECT_FALSE(second.Start());
    EXPECT_EQ(second.GetLocalSdp("", "", 8000, 1, "H264", "sendonly", 0, "127.0.0.1"), "");
    EXPECT_EQ(loop.channelCount(), 1u);
}

TEST_F(Session, AFloodOfHostileDatagramsWritesAFewLinesNotOneEach)
{
    testsupport::LogCapture log;
    PeerSocket stranger;
    const std::string user = transport->GetUfrag() + ":peer";
    const auto wrongUfrag = bindingRequest("zzzz:peer", transport->GetPwd());
    const auto wrongPassword = bindingRequest(user, "not-the-password-at-all!");
    const std::vector<uint8_t> dtlsLike(60, 0x16);
    const std::vector<uint8_t> oversized(UdpSocket::kReceiveSize + 100, 0x16);
    const auto started = std::chrono::steady_clock::now();
    const int batches = 40, perBatch = 100;
    for (int b = 0; b < batches; ++b) {
        // In batches the socket's buffer holds, so every check is handled.
        for (int i = 0; i < perBatch; ++i)
            stranger.sendTo(port, i % 2 ? wrongUfrag : wrongPassword);
        stranger.sendTo(port, dtlsLike);
        stranger.sendTo(port, oversized);
        ASSERT_TRUE(waitFor([&] { return transport->RefusedChecks() == uint64_t((b + 1) * perBatch); }, 10000)) << b;
    }
    // One line for the first refusal and for the first oversized datagram,
    // then at most one count of each per 10 s that the flood took.
    const auto tookS = std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - started);
    const int bound = 2 * (1 + int(tookS.count() / 10 + 1));
    EXPECT_LE(log.lines().size(), bound) << log.lines().join("\n").toStdString();
    EXPECT_TRUE(log.contains("refused with 401"));
}
