// The two WebRTC routes and the window switch end to end: HTTPS requests
// from several clients at once, browser-like peers of our own classes on
// the offers they got, and what each peer then receives.
#include "WebrtcRouteKit.h"
#include "WebrtcTestKit.h"

using namespace webrtctest;
using servertest::post;

namespace {

const QJsonObject kError { { "result", "error" } };
const QJsonObject kOk { { "result", "ok" } };

struct Viewer {
    QString id;
    Offer offer;
    LoopbackPeer peer;
};

class WebrtcRoutes : public RouteFixture {
protected:
    static QJsonObject askOffer(httptest::Client& c, const QString& win)
    {
        return post(
            c, "/api/v2/webrtc/get_sdp.json", { { "pro_id", s_pro }, { "win_id", win }, { "ip", "127.0.0.1" } });
    }
    // Asks for an offer over HTTPS and connects a peer to it.
    void watch(httptest::Client& c, Viewer& v, const QString& win)
    {
        const QJsonObject reply = askOffer(c, win);
        ASSERT_EQ(reply.value("result").toString(), "ok");
        const Offer o = parseOffer(reply);
        v.id = o.id;
        v.offer = o;
        ASSERT_TRUE(v.peer.check(o.port, o.ufrag, o.pwd));
        ASSERT_TRUE(v.peer.handshake(false));
        ASSERT_TRUE(testsupport::waitFor([&] { return WebrtcManager::instance()->sessionView(v.id).dtlsCompleted; }));
    }
    static void sendIdr(const QString& win, uint8_t marker)
    {
        const char sps[] = { 0x67, 0x42, 0x00, 0x1f };
        const char idr[] = { 0x65, char(0x88), char(marker), 0x01 };
        WebrtcManager::instance()->sendVideo(s_pro, win, sps, sizeof sps, 0, 1, 25);
        WebrtcManager::instance()->sendVideo(s_pro, win, idr, sizeof idr, 0, 2, 25);
    }
    // The IDR markers (third payload byte) the viewer received, in order.
    static std::vector<int> idrsSeen(Viewer& v)
    {
        std::vector<int> got;
        for (auto p = v.peer.receiveRtp(300); !p.empty(); p = v.peer.receiveRtp(150))
            if (p[12] == 0x65)
                got.push_back(p[14]);
        return got;
    }
};

} // namespace

TEST_F(WebrtcRoutes, BadOfferRequestsAreRefusedAndKeepNothing)
{
    auto c = client();
    const int before = WebrtcManager::instance()->sessionCount();
    const std::vector<QJsonObject> bad = {
        { { "pro_id", s_pro }, { "win_id", s_wide } },
        { { "pro_id", s_pro }, { "win_id", s_wide }, { "ip", "not-an-address" } },
        { { "pro_id", "no-such-program" }, { "win_id", "" }, { "ip", "127.0.0.1" } },
        { { "pro_id", "" }, { "win_id", s_wide }, { "ip", "127.0.0.1" } },
        // The route needs no token: made-up programs and windows get nothing.
        { { "pro_id", s_pro }, { "win_id", "nosuch" }, { "ip", "127.0.0.1" } },
        { { "pro_id", s_pro }, { "win_id", "../../x" }, { "ip", "127.0.0.1" } },
        { { "pro_id", "../../x" }, { "win_id", s_wide }, { "ip", "127.0.0.1" } },
        { { "pro_id", "nosuch" }, { "win_id", "1" }, { "ip", "127.0.0.1" } },
    };
    for (const QJsonObject& body : bad)
        EXPECT_EQ(post(*c, "/api/v2/webrtc/get_sdp.json", body), kError) << QJsonDocument(body).toJson().toStdString();
    EXPECT_EQ(post(*c, "/api/v2/webrtc/remove_session.json", {}), kError);
    EXPECT_EQ(post(*c, "/api/v2/webrtc/remove_session.json", { { "session_id", "424242" } }), kOk);
    EXPECT_EQ(WebrtcManager::instance()->sessionCount(), before);

    // An empty window id means the program's first window.
    const QJsonObject first
        = post(*c, "/api/v2/webrtc/get_sdp.json", { { "pro_id", s_pro }, { "win_id", "" }, { "ip", "127.0.0.1" } });
    const QString id = first.value("data").toObject().value("session_id").toString();
    EXPECT_EQ(WebrtcManager::instance()->sessionView(id).win_id,
        BaseConfig::getInstance()->getProgram(s_pro)->getFirstWinId());
    EXPECT_EQ(post(*c, "/api/v2/webrtc/remove_session.json", { { "session_id", id } }), kOk);
}

TEST_F(WebrtcRoutes, ViewersWatchSwitchAndLeaveTheirWindowsIndependently)
{
    auto c1 = client();
    auto c2 = client();
    Viewer a, b;
    watch(*c1, a, s_wide);
    watch(*c2, b, s_wide);
    sendIdr(s_wide, 1);
    EXPECT_EQ(idrsSeen(a), std::vector<int> { 1 });
    EXPECT_EQ(idrsSeen(b), std::vector<int> { 1 });

    // Viewer a follows the small window; b stays on the wide one.
    EXPECT_EQ(post(*c1, "/api/v2/window/switch.json",
                  { { "pro_id", s_pro }, { "win_id", s_small }, { "session_id", a.id } }, s_header),
        kOk);
    EXPECT_EQ(WebrtcManager::instance()->sessionView(a.id).win_id, s_small);
    sendIdr(s_wide, 2);
    sendIdr(s_small, 3);
    EXPECT_EQ(idrsSeen(a), std::vector<int> { 3 });
    EXPECT_EQ(idrsSeen(b), std::vector<int> { 2 });

    // A switch to a window the program does not have rebinds nothing.
    EXPECT_EQ(post(*c2, "/api/v2/window/switch.json",
                  { { "pro_id", s_pro }, { "win_id", "999" }, { "session_id", b.id } }, s_header)
                  .value("result")
                  .toString(),
        "error");
    EXPECT_EQ(WebrtcManager::instance()->sessionView(b.id).win_id, s_wide);

    // Leaving frees the viewer's socket at once; the other keeps watching.
    const unsigned short port = WebrtcManager::instance()->sessionView(a.id).port;
    EXPECT_EQ(post(*c1, "/api/v2/webrtc/remove_session.json", { { "session_id", a.id } }), kOk);
    ASSERT_TRUE(testsupport::waitFor([&] { return portIsFree(port); }, 2000));
    sendIdr(s_wide, 4);
    EXPECT_EQ(idrsSeen(b), std::vector<int> { 4 });
    EXPECT_EQ(post(*c2, "/api/v2/webrtc/remove_session.json", { { "session_id", b.id } }), kOk);
}

TEST_F(WebrtcRoutes, AStrangersBurstAndHeldChecksLeaveRoomForOtherViewers)
{
    WebrtcManager* manager = WebrtcManager::instance();
    auto stranger = client(QHostAddress("127.0.0.2"));
    // More offers than there are places, all from one address.
    std::vector<Offer> burst;
    for (int i = 0; i < WebrtcManager::kMaxSessions + 20; ++i) {
        const QJsonObject reply = askOffer(*stranger, s_wide);
        ASSERT_EQ(reply.value("result").toString(), "ok") << i;
        burst.push_back(parseOffer(reply));
    }
    const auto aliveOf = [&](const std::vector<Offer>& offers) {
        int n = 0;
        for (const Offer& o : offers)
            n += manager->sessionView(o.id).alive ? 1 : 0;
        return n;
    };
    EXPECT_LE(aliveOf(burst), WebrtcManager::kMaxUnconnectedPerAddress);
    // The stranger keeps one of its sessions with valid consent checks but
    // never completes DTLS.
    PeerSocket holder("127.0.0.2");
    const Offer held = burst.back();
    holder.sendTo(held.port, bindingRequest(held.ufrag + ":x", held.pwd));
    const auto answer = holder.receive(2000);
    ASSERT_GE(answer.size(), 20u);
    EXPECT_EQ(answer[0] << 8 | answer[1], 0x0101); // a success: the check was valid
    ASSERT_TRUE(testsupport::waitFor([&] { return manager->sessionView(held.id).iceCompleted; }));

    // A viewer from another address connects and gets its picture ...
    auto c = client();
    Viewer v;
    watch(*c, v, s_wide);
    sendIdr(s_wide, 5);
    EXPECT_EQ(idrsSeen(v), std::vector<int> { 5 });
    // ... and keeps it through the stranger's next burst, which ends only
    // the stranger's unconnected sessions, the held one among them.
    std::vector<Offer> second;
    for (int i = 0; i < WebrtcManager::kMaxSessions; ++i) {
        second.push_back(parseOffer(askOffer(*stranger, s_wide)));
        // The viewer keeps its consent as a browser does, however long the burst takes.
        if (i % 32 == 31) {
            ASSERT_TRUE(v.peer.check(v.offer.port, v.offer.ufrag, v.offer.pwd));
        }
    }
    EXPECT_LE(aliveOf(second), WebrtcManager::kMaxUnconnectedPerAddress);
    EXPECT_FALSE(manager->sessionView(held.id).alive);
    EXPECT_TRUE(manager->sessionView(v.id).alive);
    sendIdr(s_wide, 6);
    EXPECT_EQ(idrsSeen(v), std::vector<int> { 6 });

    for (const Offer& o : second)
        post(*stranger, "/api/v2/webrtc/remove_session.json", { { "session_id", o.id } });
    EXPECT_EQ(post(*c, "/api/v2/webrtc/remove_session.json", { { "session_id", v.id } }), kOk);
}
