// Benchmark of the WebRTC preview's send path, with client-role peers of our
// own classes on loopback (tests/webrtc/WebrtcTestKit.h):
//  1. SRTP: our cost per 1372-byte packet (packetize, protect, send) beside
//     a bare srtp_protect + sendto loop with the same policy, same run.
//  2. Sessions per window: sendVideo time per 1080p30 8 Mbit/s frame for 1,
//     10, 100 and 250 sessions, beside the frame budget 1/fps.
//  3. NAL units dropped while offers are made 10 times a second.
//  4. Glass-to-glass latency into Debian's chromium at 1280x720 25 fps: the
//     sender stamps its send time into each picture, the page reads it per
//     presented frame; x264 with one thread beside automatic threads, and
//     both beside the goal of 150 ms.
// Each figure is repeated; the load average is printed with it.
#include "BenchFigures.h"
#include "ChromiumPeer.h"
#include "H264Feeder.h"
#include "WebrtcTestKit.h"
#include "webrtc/WebrtcManager.h"
#include "webrtc_transport/EventLoop.h"
#include "webrtc_transport/WebRtcTransport.h"

#include <QCoreApplication>

#include <srtp2/srtp.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

using namespace webrtctest;
using Clock = std::chrono::steady_clock;

namespace {

void qtQuiet(QtMsgType, const QMessageLogContext&, const QString&) { }

std::string loadAverage()
{
    double l[3] = {};
    getloadavg(l, 3);
    char text[64];
    std::snprintf(text, sizeof text, "load %.2f %.2f %.2f", l[0], l[1], l[2]);
    return text;
}

// A peer socket that nobody reads: sends to it cost what they cost and the
// kernel drops what does not fit.
void srtpBench()
{
    EventLoop loop;
    auto transport = std::make_shared<WebRtcTransport>(&loop, 0);
    transport->Start();
    LoopPump pump(loop, [t = transport] { t->OnTimer(); });
    LoopbackPeer peer;
    if (!peer.check(transport->LocalPort(), transport->GetUfrag(), transport->GetPwd()) || !peer.handshake(false)) {
        std::printf("srtp: the loopback peer did not connect\n");
        return;
    }
    while (!transport->DtlsCompleted())
        std::this_thread::sleep_for(std::chrono::milliseconds(1));

    // The reference: one libsrtp session of the same policy, one socket.
    srtp_policy_t policy {};
    srtp_crypto_policy_set_rtp_default(&policy.rtp);
    srtp_crypto_policy_set_rtp_default(&policy.rtcp);
    policy.ssrc.type = ssrc_any_outbound;
    unsigned char key[30] = { 1, 2, 3 };
    policy.key = key;
    policy.window_size = 1024;
    policy.allow_repeat_tx = 1;
    srtp_t session = nullptr;
    srtp_create(&session, &policy);
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    const sockaddr_in to = loopback(peer.socket.port());

    constexpr int kPackets = 20000;
    std::vector<char> nal(1360, 0x33);
    nal[0] = 0x41;
    std::vector<double> ours, bare;
    uint16_t seq = 0; // runs on across rounds: libsrtp refuses (cheaply) what it takes for a replay
    int failures = 0;
    for (int round = 0; round < 5; ++round) {
        auto t0 = Clock::now();
        for (int i = 0; i < kPackets; ++i)
            transport->SendH264Frame(nal.data(), int(nal.size()), uint32_t(i));
        ours.push_back(std::chrono::duration<double, std::nano>(Clock::now() - t0).count() / kPackets);

        char packet[1400] = { char(0x80), 126 };
        t0 = Clock::now();
        for (int i = 0; i < kPackets; ++i) {
            std::memcpy(packet + 12, nal.data(), nal.size());
            packet[2] = char(seq >> 8);
            packet[3] = char(seq);
            ++seq;
            int len = 1372;
            if (srtp_protect(session, packet, &len) != srtp_err_status_ok)
                ++failures;
            ::sendto(fd, packet, size_t(len), MSG_DONTWAIT, reinterpret_cast<const sockaddr*>(&to), sizeof to);
        }
        bare.push_back(std::chrono::duration<double, std::nano>(Clock::now() - t0).count() / kPackets);
        std::printf("srtp round %d: ours %.0f ns/packet, bare srtp_protect+sendto %.0f ns/packet, ratio %.2f  (%s)\n",
            round + 1, ours.back(), bare.back(), ours.back() / bare.back(), loadAverage().c_str());
    }
    std::printf("srtp median: ours %.0f ns, bare %.0f ns, ratio %.2f (bare protect failures: %d)\n",
        percentile(ours, 0.5), percentile(bare, 0.5), percentile(ours, 0.5) / percentile(bare, 0.5), failures);
    ::close(fd);
    srtp_dealloc(session);
}

// Connects n client peers to window ("1", "2") of the manager.
std::vector<std::unique_ptr<LoopbackPeer>> connectPeers(WebrtcManager& manager, int n)
{
    std::vector<std::unique_ptr<LoopbackPeer>> peers;
    for (int i = 0; i < n; ++i) {
        const Offer o = parseOffer(manager.getSdpJson("1", "2", "127.0.0.1", QHostAddress(QHostAddress::LocalHost)));
        auto peer = std::make_unique<LoopbackPeer>();
        if (o.port && peer->check(o.port, o.ufrag, o.pwd) && peer->handshake(false))
            peers.push_back(std::move(peer));
        while (o.port && !manager.sessionView(o.id).dtlsCompleted)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return peers;
}

void sessionsBench()
{
    EventLoop loop;
    WebrtcManager manager(&loop);
    manager.init();
    // 8 Mbit/s at 30 fps: about 33 kB per picture, cut into NAL units of
    // that size (one slice per picture).
    std::vector<char> picture(8000000 / 8 / 30, 0x22);
    picture[0] = 0x41;
    picture[1] = char(0x80); // first_mb_in_slice 0
    const double budgetMs = 1000.0 / 30;
    std::vector<std::unique_ptr<LoopbackPeer>> peers;
    for (int target : { 1, 10, 100, 250 }) {
        auto more = connectPeers(manager, target - int(peers.size()));
        for (auto& p : more)
            peers.push_back(std::move(p));
        std::vector<double> times;
        for (int frame = 0; frame < 30; ++frame) {
            const auto t0 = Clock::now();
            manager.sendVideo("1", "2", picture.data(), int(picture.size()), 0, 0, 30);
            times.push_back(std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
        }
        const double m = percentile(times, 0.5);
        std::printf(
            "sessions %3d (%zu connected): sendVideo %.2f ms per frame, budget 1/fps %.2f ms, ratio %.2f  (%s)\n",
            target, peers.size(), m, budgetMs, m / budgetMs, loadAverage().c_str());
    }
    manager.destroy();
}

void offersBench()
{
    EventLoop loop;
    WebrtcManager manager(&loop);
    manager.init();
    auto peers = connectPeers(manager, 1);
    std::atomic<bool> run { true };
    std::atomic<int> units { 0 };
    double worstMs = 0;
    std::thread encoder([&] {
        std::vector<char> picture(8000000 / 8 / 30, 0x22);
        picture[0] = 0x41;
        picture[1] = char(0x80);
        while (run) {
            const auto t0 = Clock::now();
            manager.sendVideo("1", "2", picture.data(), int(picture.size()), 0, 0, 30);
            worstMs = std::max(worstMs, std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
            ++units;
            std::this_thread::sleep_for(std::chrono::milliseconds(33));
        }
    });
    std::vector<QString> ids;
    for (int i = 0; i < 50; ++i) { // 5 s at 10 offers a second
        ids.push_back(
            parseOffer(manager.getSdpJson("1", "3", "127.0.0.1", QHostAddress(quint32(0x0A000000u + quint32(i))))).id);
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    run = false;
    encoder.join();
    std::printf("offers 10/s for 5 s: %d NAL units sent, %llu dropped (reference 0), slowest sendVideo %.2f ms  (%s)\n",
        units.load(), (unsigned long long)manager.droppedNalUnits(), worstMs, loadAverage().c_str());
    manager.destroy();
}

double latencyP50(int threads)
{
    EventLoop loop;
    WebrtcManager manager(&loop);
    manager.init();
    H264Feeder feeder(&manager, "1", "2", 1280, 720, 25, true, threads);
    const QJsonObject offer = manager.getSdpJson("1", "2", "127.0.0.1", QHostAddress(QHostAddress::LocalHost));
    ChromiumPeer browser;
    if (!feeder.error().empty() || !browser.start(PANOPTRA_SOURCE_DIR, "about:blank")) {
        std::printf("latency: no encoder or no browser (scripts/install-deps.sh installs them)\n");
        return -1;
    }
    browser.ask({ { "cmd", "offer" }, { "sdp", offer.value("data").toObject().value("sdp").toString() } });
    const auto deadline = Clock::now() + std::chrono::seconds(15);
    while (Clock::now() < deadline) {
        const QJsonObject s = browser.ask({ { "cmd", "stats" } });
        if (s.value("framesDecoded").toInt() > 25)
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
    const QJsonObject r = browser.ask({ { "cmd", "latency" }, { "seconds", 10 } }, 30000);
    std::printf("latency, x264 threads %s: %d frames, p50 %d ms, p90 %d ms, goal 150 ms, ratio %.2f  (%s)\n",
        threads == 0 ? "automatic" : "1", r.value("frames").toInt(), r.value("p50").toInt(), r.value("p90").toInt(),
        r.value("p50").toInt() / 150.0, loadAverage().c_str());
    manager.destroy();
    return r.value("p50").toDouble();
}

void latencyBench()
{
    const double one = latencyP50(1);
    const double automatic = latencyP50(0);
    if (one > 0 && automatic > 0)
        std::printf("latency p50 with one x264 thread against automatic threads: ratio %.2f\n", one / automatic);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    qInstallMessageHandler(qtQuiet);
    srtpBench();
    sessionsBench();
    offersBench();
    latencyBench();
    return 0;
}
