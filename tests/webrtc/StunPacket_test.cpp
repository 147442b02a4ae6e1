// STUN parsing, checking and answering as an ICE-lite peer: the RFC 5769
// test vectors written from the RFC's bytes, then the responder's answers
// to good and bad requests.
#include "LogCapture.h"
#include "WebrtcTestKit.h"
#include "base/Clock.h"
#include "webrtc_transport/Crypto.h"
#include "webrtc_transport/IceServer.h"
#include "webrtc_transport/StunPacket.h"

#include <gtest/gtest.h>

#include <QStringList>

#include <cstdio>
#include <unistd.h>

#include <memory>
#include <set>
#include <vector>

using RTC::StunPacket;

namespace {

const std::string kUfrag = "evtj";
const std::string kPassword = "VOkJxbRl1RmTxUk/WvJxBt";

// RFC 5769 §2.1, sample request.
const std::vector<uint8_t> kSampleRequest = {
    0x00,
    0x01,
    0x00,
    0x58,
    0x21,
    0x12,
    0xa4,
    0x42,
    0xb7,
    0xe7,
    0xa7,
    0x01,
    0xbc,
    0x34,
    0xd6,
    0x86,
    0xfa,
    0x87,
    0xdf,
    0xae,
    0x80,
    0x22,
    0x00,
    0x10,
    0x53,
    0x54,
    0x55,
    0x4e,
    0x20,
    0x74,
    0x65,
    0x73,
    0x74,
    0x20,
    0x63,
    0x6c,
    0x69,
    0x65,
    0x6e,
    0x74,
    0x00,
    0x24,
    0x00,
    0x04,
    0x6e,
    0x00,
    0x01,
    0xff,
    0x80,
    0x29,
    0x00,
    0x08,
    0x93,
    0x2f,
    0xf9,
    0xb1,
    0x51,
    0x26,
    0x3b,
    0x36,
    0x00,
    0x06,
    0x00,
    0x09,
    0x65,
    0x76,
    0x74,
    0x6a,
    0x3a,
    0x68,
    0x36,
    0x76,
    0x59,
    0x20,
    0x20,
    0x20,
    0x00,
    0x08,
    0x00,
    0x14,
    0x9a,
    0xea,
    0xa7,
    0x0c,
    0xbf,
    0xd8,
    0xcb,
    0x56,
    0x78,
    0x1e,
    0xf2,
    0xb5,
    0xb2,
    0xd3,
    0xf2,
    0x49,
    0xc1,
    0xb5,
    0x71,
    0xa2,
    0x80,
    0x28,
    0x00,
    0x04,
    0xe5,
    0x7a,
    0x3b,
    0xcf,
};

// RFC 5769 §2.2, sample IPv4 response (192.0.2.1 port 32853).
const std::vector<uint8_t> kSampleResponse = {
    0x01,
    0x01,
    0x00,
    0x3c,
    0x21,
    0x12,
    0xa4,
    0x42,
    0xb7,
    0xe7,
    0xa7,
    0x01,
    0xbc,
    0x34,
    0xd6,
    0x86,
    0xfa,
    0x87,
    0xdf,
    0xae,
    0x80,
    0x22,
    0x00,
    0x0b,
    0x74,
    0x65,
    0x73,
    0x74,
    0x20,
    0x76,
    0x65,
    0x63,
    0x74,
    0x6f,
    0x72,
    0x20,
    0x00,
    0x20,
    0x00,
    0x08,
    0x00,
    0x01,
    0xa1,
    0x47,
    0xe1,
    0x12,
    0xa6,
    0x43,
    0x00,
    0x08,
    0x00,
    0x14,
    0x2b,
    0x91,
    0xf5,
    0x99,
    0xfd,
    0x9e,
    0x90,
    0xc3,
    0x8c,
    0x74,
    0x89,
    0xf9,
    0x2a,
    0xf9,
    0xba,
    0x53,
    0xf0,
    0x6b,
    0xe7,
    0xd7,
    0x80,
    0x28,
    0x00,
    0x04,
    0xc0,
    0x7d,
    0x4c,
    0x96,
};

sockaddr_in address(const char* ip, unsigned short port)
{
    sockaddr_in a {};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    inet_pton(AF_INET, ip, &a.sin_addr);
    return a;
}

// What an IceServer sent, and whether it completed.
struct Responder {
    Responder()
        : ice(kUfrag, kPassword)
    {
        ice.SetSendCallback([this](const char* d, int n, const sockaddr_in* to) {
            sent.emplace_back(reinterpret_cast<const uint8_t*>(d), reinterpret_cast<const uint8_t*>(d) + n);
            sentTo = *to;
        });
        ice.SetIceServerCompletedCallback([this] { ++completed; });
    }
    // The answer's class and error code to bytes from `from`; {-1, 0} when
    // nothing parsed or nothing was answered.
    std::pair<int, int> feed(const std::vector<uint8_t>& bytes, const sockaddr_in& from)
    {
        sent.clear();
        std::unique_ptr<StunPacket> p(StunPacket::Parse(bytes.data(), bytes.size()));
        if (!p)
            return { -1, 0 };
        authenticated = ice.ProcessStunPacket(p.get(), &from);
        if (sent.empty())
            return { -1, 0 };
        std::unique_ptr<StunPacket> answer(StunPacket::Parse(sent.back().data(), sent.back().size()));
        if (!answer)
            return { -2, 0 };
        return { int(answer->GetClass()), answer->GetErrorCode() };
    }
    IceServer ice;
    std::vector<std::vector<uint8_t>> sent;
    sockaddr_in sentTo {};
    int completed = 0;
    bool authenticated = false;
};

} // namespace

TEST(StunVectors, SampleRequestParsesAndAuthenticatesWithTheRfcCredentials)
{
    std::unique_ptr<StunPacket> p(StunPacket::Parse(kSampleRequest.data(), kSampleRequest.size()));
    ASSERT_TRUE(p);
    EXPECT_EQ(p->GetClass(), StunPacket::Class::Request);
    EXPECT_EQ(p->GetMethod(), 1);
    EXPECT_EQ(p->GetUsername(), "evtj:h6vY");
    EXPECT_EQ(p->GetPriority(), 0x6e0001ffu);
    EXPECT_EQ(p->GetIceControlled(), 0x932ff9b151263b36ULL);
    EXPECT_TRUE(p->HasFingerprint());
    const std::vector<uint8_t> before = kSampleRequest;
    EXPECT_EQ(p->CheckAuthentication(kUfrag, kPassword), StunPacket::Authentication::OK);
    EXPECT_EQ(p->CheckAuthentication(kUfrag, "wrong password"), StunPacket::Authentication::Unauthorized);
    EXPECT_EQ(p->CheckAuthentication("evtk", kPassword), StunPacket::Authentication::Unauthorized);
    EXPECT_EQ(kSampleRequest, before); // checking leaves the bytes alone
}

TEST(StunVectors, SampleResponseParsesAndOurXorMappedAddressMatchesIt)
{
    std::unique_ptr<StunPacket> p(StunPacket::Parse(kSampleResponse.data(), kSampleResponse.size()));
    ASSERT_TRUE(p);
    EXPECT_EQ(p->GetClass(), StunPacket::Class::SuccessResponse);
    // Its integrity, keyed with the RFC's password, over the header (length
    // up to MESSAGE-INTEGRITY) and the attributes before it.
    std::vector<uint8_t> covered(kSampleResponse.begin(), kSampleResponse.begin() + 48);
    covered[3] = 48 + 24 - 20;
    const uint8_t* mac = Utils::Crypto::GetHmacShA1(kPassword, covered.data(), covered.size());
    EXPECT_TRUE(std::equal(mac, mac + 20, kSampleResponse.begin() + 52));

    // Our answer to the sample request from the RFC's address carries the
    // same XOR-MAPPED-ADDRESS bytes and verifies with the same password.
    Responder r;
    EXPECT_EQ(r.feed(kSampleRequest, address("192.0.2.1", 32853)), std::make_pair(2, 0));
    ASSERT_FALSE(r.sent.empty());
    ASSERT_EQ(r.sent.back().size(), 64u);
    const std::vector<uint8_t> xorAddress(r.sent.back().begin() + 20, r.sent.back().begin() + 32);
    EXPECT_EQ(xorAddress, std::vector<uint8_t>(kSampleResponse.begin() + 36, kSampleResponse.begin() + 48));
    EXPECT_TRUE(std::equal(r.sent.back().begin() + 8, r.sent.back().begin() + 20, kSampleRequest.begin() + 8));
    std::vector<uint8_t> ours = r.sent.back();
    ours[3] = 32 + 24 - 20;
    const uint8_t* ourMac = Utils::Crypto::GetHmacShA1(kPassword, ours.data(), 32);
    EXPECT_TRUE(std::equal(ourMac, ourMac + 20, r.sent.back().begin() + 36));
    EXPECT_EQ(r.completed, 1);
    EXPECT_EQ(ntohs(r.ice.GetPeerTuple().sin_port), 32853);
}

TEST(StunParse, MalformedMessagesAreRefused)
{
    auto with = [](const std::function<void(std::vector<uint8_t>&)>& change) {
        std::vector<uint8_t> m = kSampleRequest;
        change(m);
        return m;
    };
    const std::vector<std::pair<const char*, std::vector<uint8_t>>> cases = {
        { "too short", std::vector<uint8_t>(kSampleRequest.begin(), kSampleRequest.begin() + 19) },
        { "first byte above 2", with([](auto& m) { m[0] = 3; }) },
        { "wrong cookie", with([](auto& m) { m[4] = 0x22; }) },
        { "length not a multiple of 4", with([](auto& m) { m[3] = 0x57; }) },
        { "length not the datagram's", with([](auto& m) {
             m.push_back(0);
             m.push_back(0);
             m.push_back(0);
             m.push_back(0);
         }) },
        { "attribute past the end", with([](auto& m) { m[22] = 0x01; }) },
        { "changed byte before FINGERPRINT", with([](auto& m) { m[30] ^= 1; }) },
        { "attribute after FINGERPRINT", with([](auto& m) {
             m.insert(m.end(), { 0x80, 0x22, 0x00, 0x00 });
             m[3] += 4;
         }) },
        { "16-byte MESSAGE-INTEGRITY", with([](auto& m) { m[79] = 0x10; }) },
        { "PRIORITY of 2 bytes", with([](auto& m) { m[43] = 0x02; }) },
    };
    for (const auto& c : cases) {
        std::unique_ptr<StunPacket> p(StunPacket::Parse(c.second.data(), c.second.size()));
        EXPECT_FALSE(p) << c.first;
    }
    // A bare header is a valid message.
    const std::vector<uint8_t> bare(kSampleRequest.begin(), kSampleRequest.begin() + 20);
    std::vector<uint8_t> header = bare;
    header[3] = 0;
    EXPECT_TRUE(std::unique_ptr<StunPacket>(StunPacket::Parse(header.data(), header.size())));
}

TEST(IceLite, AnswersEachRequestAsItDeserves)
{
    const sockaddr_in from = address("127.0.0.1", 40000);
    struct Case {
        const char* name;
        std::vector<uint8_t> bytes;
        int answerClass; // -1: no answer
        int code;
        bool authenticated;
    };
    auto bare = [](uint16_t type, bool fingerprint) {
        uint8_t tid[12] = { 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12 };
        StunPacket p(StunPacket::Class(((type >> 7) & 2) | ((type >> 4) & 1)), uint16_t(type & 0xF), tid, nullptr, 0);
        std::vector<uint8_t> out(512);
        out.resize(p.Serialize(out.data()));
        if (!fingerprint) {
            out.resize(out.size() - 8);
            out[3] = uint8_t(out.size() - 20);
        }
        return out;
    };
    using webrtctest::bindingRequest;
    const std::vector<Case> cases = {
        { "good request", bindingRequest("evtj:peer", kPassword), 2, 0, true },
        { "ufrag and an empty peer part", bindingRequest("evtj:", kPassword), 2, 0, true },
        { "ufrag without colon", bindingRequest("evtj", kPassword), 3, 401, false },
        { "longer ufrag", bindingRequest("evtjx:peer", kPassword), 3, 401, false },
        { "other ufrag", bindingRequest("abcd:peer", kPassword), 3, 401, false },
        { "wrong password", bindingRequest("evtj:peer", "not the password"), 3, 401, false },
        { "priority 0", bindingRequest("evtj:peer", kPassword, 0), 3, 400, false },
        { "no fingerprint", bare(0x0001, false), 3, 400, false },
        { "no integrity or username", bare(0x0001, true), 3, 400, false },
        { "other method", bare(0x0002, true), 3, 400, false },
        { "indication", bare(0x0011, true), -1, 0, false },
        { "success response", bare(0x0101, true), -1, 0, false },
    };
    for (const Case& c : cases) {
        Responder r;
        EXPECT_EQ(r.feed(c.bytes, from), std::make_pair(c.answerClass, c.code)) << c.name;
        EXPECT_EQ(r.authenticated, c.authenticated) << c.name;
        EXPECT_EQ(r.completed, c.authenticated ? 1 : 0) << c.name;
        if (!r.sent.empty()) {
            EXPECT_EQ(r.sent.back().size(), c.answerClass == 2 ? 64u : 36u) << c.name;
        }
    }
}

TEST(IceLite, TheLatestAuthenticatedCheckDecidesThePeer)
{
    Responder r;
    const auto request = webrtctest::bindingRequest("evtj:peer", kPassword);
    r.feed(request, address("127.0.0.1", 1000));
    r.feed(request, address("127.0.0.2", 2000));
    EXPECT_EQ(ntohs(r.ice.GetPeerTuple().sin_port), 2000);
    r.feed(webrtctest::bindingRequest("evtj:peer", "bad"), address("127.0.0.3", 3000));
    EXPECT_EQ(ntohs(r.ice.GetPeerTuple().sin_port), 2000);
    r.feed(request, address("127.0.0.1", 1000));
    EXPECT_EQ(ntohs(r.ice.GetPeerTuple().sin_port), 1000);
}

TEST(IceCredentials, AreRandomLowercaseAlphanumerics)
{
    std::set<std::string> seen;
    for (int i = 0; i < 200; ++i) {
        const std::string s = Utils::Crypto::GetRandomString(24);
        ASSERT_EQ(s.size(), 24u);
        for (char c : s)
            ASSERT_TRUE((c >= '0' && c <= '9') || (c >= 'a' && c <= 'z')) << s;
        seen.insert(s);
    }
    EXPECT_EQ(seen.size(), 200u);
}

namespace {
QStringList* s_logged = nullptr;
void captureLog(QtMsgType, const QMessageLogContext&, const QString& text)
{
    s_logged->append(text);
}
} // namespace

TEST(IceLite, ARefusedCheckIsLoggedThroughTheLoggerNotStandardOutput)
{
    QStringList logged;
    s_logged = &logged;
    const QtMessageHandler previous = qInstallMessageHandler(captureLog);
    std::fflush(stdout);
    const int savedStdout = ::dup(1);
    FILE* sink = std::tmpfile();
    ::dup2(::fileno(sink), 1);

    Responder r;
    r.feed(webrtctest::bindingRequest("evtj:peer", "not the password"), address("127.0.0.1", 4000));

    std::fflush(stdout);
    ::dup2(savedStdout, 1);
    ::close(savedStdout);
    qInstallMessageHandler(previous);
    s_logged = nullptr;
    EXPECT_EQ(std::ftell(sink), 0L);
    std::fclose(sink);
    EXPECT_TRUE(logged.filter("401").size() == 1) << logged.join("|").toStdString();
}

TEST(IceLite, AFloodOfRefusedChecksLogsOneLineAndThenACountPerInterval)
{
    testsupport::LogCapture log;
    Responder r;
    const sockaddr_in from = address("127.0.0.1", 4000);
    const auto badPassword = webrtctest::bindingRequest("evtj:peer", "not the password");
    const auto noPriority = webrtctest::bindingRequest("evtj:peer", kPassword, 0);
    const int flood = 5000;
    for (int i = 0; i < flood; ++i)
        r.feed(i % 2 ? badPassword : noPriority, from);
    EXPECT_EQ(r.ice.RefusedChecks(), uint64_t(flood));
    // The network thread looks on every pass; the count is due an interval on.
    const int64_t later = monotonicMs() + LogThrottle::kDefaultIntervalMs;
    r.ice.OnTimer(later);
    r.ice.OnTimer(later + 1);
    EXPECT_EQ(log.lines().filter("refused"),
        QStringList({ "ICE: Binding request refused with 400",
            QStringLiteral("ICE: %1 checks refused in the last 10 s").arg(flood - 1) }));
}
