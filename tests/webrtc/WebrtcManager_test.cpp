// The session manager with browser-like peers of our own classes on
// loopback: offers and their refusals, which NAL units reach which viewer
// and with which timestamps, removal, silence, the session limit, and a
// thousand sessions that leave nothing behind.
#include "webrtc/WebrtcManager.h"

#include "TestSupport.h"
#include "WebrtcTestKit.h"
#include "webrtc_transport/EventLoop.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QJsonObject>

#include <algorithm>
#include <mutex>

using namespace webrtctest;

namespace {

// The address of the i-th browser (10.0.0.0/16 and up: only counted, never reached).
QHostAddress browser(int i)
{
    return QHostAddress(quint32(0x0A000000u + quint32(i)));
}

int openDescriptors()
{
    return int(QDir("/proc/self/fd").entryList(QDir::NoDotAndDotDot | QDir::AllEntries | QDir::System).size());
}

bool waitUntil(const std::function<bool()>& pred, int ms = 3000)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(testsupport::budgetMs(ms));
    while (!pred() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    return pred();
}

// A slice NAL unit: header, then first_mb_in_slice as ue(v).
std::vector<char> slice(uint8_t header, int firstMb, int length = 300)
{
    std::vector<char> n(static_cast<size_t>(length), 0x55);
    n[0] = char(header);
    // ue(0) = "1"; ue(5) = "00110": put the bits at the top of byte 1.
    n[1] = firstMb == 0 ? char(0x80) : char(0x30);
    return n;
}

class Manager : public ::testing::Test {
protected:
    void SetUp() override { manager.init(); }
    void TearDown() override { manager.destroy(); }
    // Offers asked from the browser at `from`.
    Offer open(const QString& pro = "1", const QString& win = "2", const QHostAddress& from = browser(0))
    {
        const QJsonObject reply = manager.getSdpJson(pro, win, "127.0.0.1", from);
        EXPECT_EQ(reply.value("result").toString(), "ok");
        return parseOffer(reply);
    }
    // Sends each session a valid check, as a browser keeps its consent.
    void keep(const std::vector<Offer>& offers)
    {
        for (const Offer& o : offers)
            keeper.sendTo(o.port, bindingRequest(o.ufrag + ":k", o.pwd));
    }
    // A session of the window with a peer that has completed DTLS.
    Offer connect(LoopbackPeer& peer, const QString& pro = "1", const QString& win = "2")
    {
        Offer o = open(pro, win);
        EXPECT_TRUE(peer.check(o.port, o.ufrag, o.pwd));
        EXPECT_TRUE(peer.handshake(false));
        EXPECT_TRUE(waitUntil([&] { return manager.sessionView(o.id).dtlsCompleted; }));
        return o;
    }
    void send(const std::vector<char>& nal, int kind, int fps = 25, const QString& win = "2")
    {
        manager.sendVideo("1", win, nal.data(), int(nal.size()), 0, kind, fps);
    }
    // NAL header bytes (or FU types) and timestamps the peer got, in order.
    static std::vector<std::pair<int, uint32_t>> drain(LoopbackPeer& peer, int waitMs = 150)
    {
        std::vector<std::pair<int, uint32_t>> got;
        for (;;) {
            const auto p = peer.receiveRtp(waitMs);
            if (p.empty())
                return got;
            const uint32_t ts = uint32_t(p[4]) << 24 | p[5] << 16 | p[6] << 8 | p[7];
            got.emplace_back(p[12], ts);
        }
    }

    EventLoop loop;
    WebrtcManager manager { &loop };
    PeerSocket keeper;
};

} // namespace

TEST_F(Manager, OffersCarryRandomIdsAndBadRequestsKeepNothing)
{
    const Offer a = open();
    const Offer b = open();
    bool okA = false, okB = false;
    EXPECT_LT(a.id.toULongLong(&okA), 1ULL << 53);
    EXPECT_LT(b.id.toULongLong(&okB), 1ULL << 53);
    EXPECT_TRUE(okA && okB);
    // Drawn, not counted: two ids below 2^20 would be a 1 in 2^66 chance.
    EXPECT_GT(std::max(a.id.toULongLong(), b.id.toULongLong()), 1ULL << 20);
    EXPECT_NE(a.id, b.id);
    EXPECT_NE(a.port, 0);
    EXPECT_EQ(a.ufrag.size(), 4u);
    EXPECT_EQ(a.pwd.size(), 24u);
    EXPECT_EQ(manager.sessionCount(), 2);

    const int fds = openDescriptors();
    for (const QString ip : { "", "::1", "1.2.3", "localhost", "127.0.0.1\r\na=candidate:evil", "300.1.1.1" })
        EXPECT_EQ(manager.getSdpJson("1", "2", ip, browser(0)), QJsonObject({ { "result", "error" } }))
            << ip.toStdString();
    EXPECT_EQ(manager.sessionCount(), 2);
    EXPECT_EQ(openDescriptors(), fds);

    // Unknown ids change nothing.
    manager.removeSession("12345");
    manager.switchWindow("1", "3", "12345");
    manager.switchWindow("1", "3", "");
    EXPECT_EQ(manager.sessionCount(), 2);
    EXPECT_EQ(manager.sessionView(a.id).win_id, "2");

    // A stopped manager makes no session; a second destroy does nothing more.
    manager.destroy();
    manager.destroy();
    EXPECT_EQ(manager.getSdpJson("1", "2", "127.0.0.1", browser(0)), QJsonObject({ { "result", "error" } }));
    manager.init();
    EXPECT_EQ(open().port != 0, true);
}

TEST_F(Manager, ASwitchMakesOnlyThatViewerWaitAndLetsTheParameterSetsThrough)
{
    LoopbackPeer switched, other;
    const Offer s = connect(switched);
    connect(other);
    manager.switchWindow("1", "2", s.id);

    const std::vector<char> sps = { 0x67, 0x42, 0x00, 0x1f };
    const std::vector<char> pps = { 0x68, char(0xce), 0x38, char(0x80) };
    const std::vector<char> sei = { 0x06, 0x05, 0x01, 0x00 };
    send(slice(0x41, 0), 0); // a P-frame of the old picture chain
    send(sei, 3);
    send(sps, 1);
    send(pps, 1);
    send(slice(0x65, 0), 2);
    send(slice(0x41, 0), 0);

    std::vector<int> switchedKinds, otherKinds;
    for (const auto& p : drain(switched))
        switchedKinds.push_back(p.first);
    for (const auto& p : drain(other))
        otherKinds.push_back(p.first);
    // The waiting viewer gets SPS and PPS before its IDR, then P-frames;
    // the other viewer keeps every unit.
    EXPECT_EQ(switchedKinds, (std::vector<int> { 0x67, 0x68, 0x65, 0x41 }));
    EXPECT_EQ(otherKinds, (std::vector<int> { 0x41, 0x06, 0x67, 0x68, 0x65, 0x41 }));
}

TEST_F(Manager, TimestampsFollowPicturesNotSlices)
{
    LoopbackPeer peer;
    connect(peer);
    send(slice(0x65, 0), 2, 25);
    send(slice(0x65, 5), 2, 25); // second slice of the same picture
    send(slice(0x41, 0), 0, 25);
    send(slice(0x41, 0), 0, 30);
    send(slice(0x41, 0), 0, 0);
    const auto got = drain(peer);
    ASSERT_EQ(got.size(), 5u);
    EXPECT_EQ(got[0].second, 1000u);
    EXPECT_EQ(got[1].second, 1000u);
    EXPECT_EQ(got[2].second, 1000u + 3600);
    EXPECT_EQ(got[3].second, 1000u + 3600 + 3600);
    EXPECT_EQ(got[4].second, 1000u + 3600 + 3600 + 3000);
}

TEST_F(Manager, ViewersOfAWindowAreCountedAsSessionsComeSwitchAndGo)
{
    std::mutex lock;
    std::vector<QString> told;
    // Told at once on this thread; what the network thread tells is queued
    // to this thread's (unrun) event loop and dropped with the receiver.
    QObject receiver;
    QObject::connect(&manager, &WebrtcManager::viewersChanged, &receiver, [&](const QString& pro, const QString& win) {
        std::lock_guard<std::mutex> guard(lock);
        told.push_back(pro + "/" + win);
    });
    const auto toldOf = [&](const QString& window) {
        std::lock_guard<std::mutex> guard(lock);
        return std::count(told.begin(), told.end(), window);
    };

    const Offer a = open("1", "2");
    const Offer b = open("1", "2");
    EXPECT_EQ(manager.viewerCount("1", "2"), 2);
    EXPECT_EQ(manager.viewerCount("1", "3"), 0);
    EXPECT_EQ(toldOf("1/2"), 2);

    manager.switchWindow("1", "3", b.id);
    EXPECT_EQ(manager.viewerCount("1", "2"), 1);
    EXPECT_EQ(manager.viewerCount("1", "3"), 1);
    EXPECT_EQ(toldOf("1/2"), 3) << "the window the viewer left is told too";
    EXPECT_EQ(toldOf("1/3"), 1);

    manager.removeSession(a.id);
    EXPECT_EQ(manager.viewerCount("1", "2"), 0) << "a removed session stops counting at once";
    EXPECT_GE(toldOf("1/2"), 4);
    manager.removeSession(b.id);
    EXPECT_TRUE(waitUntil([&] { return manager.sessionCount() == 0; }));
    EXPECT_EQ(manager.viewerCount("1", "3"), 0);
    EXPECT_GE(toldOf("1/3"), 2);
}

TEST_F(Manager, ARemovedSessionFreesItsSocketAtOnce)
{
    const Offer a = open();
    ASSERT_FALSE(portIsFree(a.port));
    // Freed by the removal itself, long before the silence rule could end it.
    manager.removeSession(a.id);
    ASSERT_TRUE(waitUntil([&] { return portIsFree(a.port); }, 1000));
    EXPECT_FALSE(manager.sessionView(a.id).exists);
}

TEST_F(Manager, AtMost256SessionsAndTheNextGetsAnErrorAndNoSocket)
{
    // From as many browsers: no address reaches its own limit. Checks keep
    // them all, however long the making takes on a busy machine.
    std::vector<Offer> offers;
    for (int i = 0; i < WebrtcManager::kMaxSessions; ++i) {
        const QJsonObject reply = manager.getSdpJson("1", "2", "127.0.0.1", browser(i));
        ASSERT_EQ(reply.value("result").toString(), "ok") << i;
        offers.push_back(parseOffer(reply));
        if (i % 32 == 31)
            keep(offers);
    }
    const int fds = openDescriptors();
    EXPECT_EQ(manager.getSdpJson("1", "2", "127.0.0.1", browser(1000)), QJsonObject({ { "result", "error" } }));
    EXPECT_EQ(openDescriptors(), fds);
    EXPECT_EQ(manager.sessionCount(), WebrtcManager::kMaxSessions);
}

TEST_F(Manager, VideoIsNeverDroppedWhileOffersAreMade)
{
    LoopbackPeer peer;
    connect(peer);
    std::atomic<bool> run { true };
    std::atomic<int> sent { 0 };
    std::thread encoder([&] {
        const auto p = slice(0x41, 0, 1000);
        while (run) {
            send(p, 0);
            ++sent;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    });
    for (int i = 0; i < 50; ++i)
        open();
    run = false;
    encoder.join();
    EXPECT_GT(sent.load(), 0);
    EXPECT_EQ(manager.droppedNalUnits(), 0u);
}

TEST_F(Manager, AThousandSessionsHeldAndDroppedLeaveDescriptorsAndMemoryFlat)
{
    // Warm up allocator pools and one-time library state first.
    for (int i = 0; i < 20; ++i)
        manager.removeSession(open().id);
    ASSERT_TRUE(waitUntil([&] { return manager.sessionCount() == 0; }));
    const int fds = openDescriptors();
    const size_t heap = testsupport::liveHeapBytes();
    for (int round = 0; round < 10; ++round) {
        std::vector<QString> ids;
        ids.reserve(100);
        for (int i = 0; i < 100; ++i)
            ids.push_back(open("1", "2", browser(i)).id);
        for (const QString& id : ids)
            manager.removeSession(id);
        ASSERT_TRUE(waitUntil([&] { return manager.sessionCount() == 0; }));
    }
    // The last transports close on the network thread just after the reap.
    EXPECT_TRUE(waitUntil([&] { return openDescriptors() == fds; }));
    EXPECT_LT(testsupport::liveHeapBytes(), heap + 512 * 1024);
}

TEST_F(Manager, ASilentBrowserLosesItsSessionTwelveSecondsAfterItsLastCheck)
{
    const Offer a = open();
    LoopbackPeer peer;
    ASSERT_TRUE(peer.check(a.port, a.ufrag, a.pwd));
    const auto made = std::chrono::steady_clock::now();
    ASSERT_TRUE(waitUntil([&] { return !manager.sessionView(a.id).exists; }, 15000));
    // Kept for the whole silence allowance; a slow machine only ends it later.
    EXPECT_GE(std::chrono::steady_clock::now() - made, std::chrono::milliseconds(12000));
    // The socket closes on the network thread just after the session leaves the map.
    EXPECT_TRUE(waitUntil([&] { return portIsFree(a.port); }, 1000));
}

TEST_F(Manager, UnconnectedSessionsAreCountedPerAddressAndTheOldestGoesFirst)
{
    const int limit = WebrtcManager::kMaxUnconnectedPerAddress;
    // One session of the address completes ICE and DTLS: it never counts.
    LoopbackPeer viewer;
    const Offer connected = connect(viewer, "1", "2");
    // Eight that keep their consent with valid checks but never start DTLS.
    std::vector<Offer> offers;
    offers.reserve(size_t(limit));
    for (int i = 0; i < limit; ++i)
        offers.push_back(open());
    keep(offers);
    for (const Offer& o : offers)
        EXPECT_TRUE(manager.sessionView(o.id).alive);
    // Another address has places of its own.
    const Offer other = open("1", "2", browser(1));

    // One more from the first address ends its oldest unconnected session.
    ASSERT_TRUE(waitUntil([&] { return manager.sessionView(offers[0].id).iceCompleted; }));
    const Offer next = open();
    EXPECT_FALSE(manager.sessionView(offers[0].id).alive);
    for (int i = 1; i < limit; ++i)
        EXPECT_TRUE(manager.sessionView(offers[size_t(i)].id).alive) << i;
    EXPECT_TRUE(manager.sessionView(next.id).alive);
    EXPECT_TRUE(manager.sessionView(other.id).alive);
    EXPECT_TRUE(manager.sessionView(connected.id).alive);
    // The ended one is freed on the network thread like a removed one.
    EXPECT_TRUE(waitUntil([&] { return portIsFree(offers[0].port); }));

    // Many more: the connected viewer stays and still gets its video.
    for (int i = 0; i < 3 * limit; ++i)
        open();
    EXPECT_TRUE(manager.sessionView(connected.id).alive);
    send(slice(0x65, 0), 2);
    EXPECT_EQ(drain(viewer).size(), 1u);
}

TEST_F(Manager, ASessionWithoutAnAuthenticatedCheckGoesLongBeforeASilentOne)
{
    // Checked once, then silent: kept for the twelve seconds of silence.
    const Offer checked = open();
    LoopbackPeer peer;
    ASSERT_TRUE(peer.check(checked.port, checked.ufrag, checked.pwd));
    // Made later and never checked (a refused check does not count).
    const Offer unchecked = open();
    PeerSocket stranger;
    stranger.sendTo(unchecked.port, bindingRequest(unchecked.ufrag + ":x", "not-the-password-at-all!"));
    ASSERT_TRUE(waitUntil(
        [&] { return !manager.sessionView(unchecked.id).exists; }, (WebrtcManager::kSilenceSeconds + 3) * 1000));
    EXPECT_TRUE(manager.sessionView(checked.id).exists);
    EXPECT_TRUE(waitUntil([&] { return portIsFree(unchecked.port); }));
}
