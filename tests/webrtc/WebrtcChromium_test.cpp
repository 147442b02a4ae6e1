// The WebRTC preview against a real browser: Debian's chromium, driven by
// playwright-core (tests/webrtc/chromium_peer.mjs), asks the application's
// HTTPS routes for a window, connects over ICE-lite, DTLS 1.2 and SRTP and
// decodes the window's H.264. One case watches a running program's window
// that renders a live test source (another process) through the whole
// pipeline: scene, UYVY conversion, the window's encoder, the manager. The
// others drive the transport with pictures of their own: the small window
// through the application's window encoder with UYVY pictures of this test,
// the wide one by an x264 pipeline of the test (zero-latency, one thread,
// one slice per picture) whose NAL units enter sendVideo as the encoder
// hands them on.
#include "../render/GlTestContext.h"
#include "../render/LiveSources.h"
#include "ChromiumPeer.h"
#include "H264Feeder.h"
#include "WebrtcRouteKit.h"
#include "WebrtcTestKit.h"
#include "media/VideoFrame.h"
#include "model/WindowObject.h"
#include "output/GSTEAMER.h"
#include "output/ZtGstEncoder.h"
#include "render/QuickRenderer.h"
#include "render/WindowMultiThreaded.h"
#include "webrtc/WebrtcManager.h"

#include <QFile>
#include <QJsonArray>

using namespace webrtctest;

namespace {

constexpr int kFps = 25;
constexpr int kGopFrames = 2 * kFps;
constexpr int kGopMs = kGopFrames * 1000 / kFps;

// The application's own window encoder, configured as the window pipeline
// configures it, fed with UYVY pictures (a bar moving over grey) at the
// window's rate: its NAL units reach the manager as the running application
// hands them on.
class WindowEncoderFeeder {
public:
    WindowEncoderFeeder(const QString& pro, const QString& win, int width, int height)
    {
        GSTEAMER::Init(nullptr, nullptr);
        for (int i = 0; i < kFps; ++i) {
            QByteArray picture(width * height * 2, char(0x80));
            for (int y = 0; y < height; ++y)
                for (int x = i * width / kFps; x < (i + 1) * width / kFps; ++x)
                    picture[(y * width + x) * 2 + 1] = char(235); // luma of the bar
            m_pictures.push_back(picture);
        }
        m_encoder.setId(pro, win);
        // As a window's builder does: the units go to the window's preview sessions.
        m_encoder.setNaluSink(
            [](const QString& pro_id, const QString& win_id, const char* data, int length, uint32_t timestamp, int kind,
                int fps) { WebrtcManager::instance()->sendVideo(pro_id, win_id, data, length, timestamp, kind, fps); });
        m_ok = m_encoder.setSrcImagePara(width, height, kFps, 9)
            && m_encoder.setEncodePara(width, height, kFps, kGopFrames, 2000, 2, 0) && m_encoder.createEncoderElement();
        m_encoder.start();
        m_thread = std::thread([this, width, height] {
            auto next = std::chrono::steady_clock::now();
            for (size_t i = 0; m_run; ++i) {
                QByteArray& p = m_pictures[i % m_pictures.size()];
                m_encoder.addNewFrame(std::make_shared<VideoFrame>(reinterpret_cast<unsigned char*>(p.data()),
                    uint32_t(width), uint32_t(height), uint32_t(p.size()), uint32_t(width * 2)));
                next += std::chrono::milliseconds(1000 / kFps);
                std::this_thread::sleep_until(next);
            }
        });
    }
    ~WindowEncoderFeeder()
    {
        m_run = false;
        m_thread.join();
        m_encoder.stop();
    }
    bool ok() const { return m_ok; }

private:
    std::vector<QByteArray> m_pictures;
    ZtGstEncoder m_encoder;
    bool m_ok = false;
    std::atomic<bool> m_run { true };
    std::thread m_thread;
};

// One registry folder and one running source table for the whole program.
::testing::Environment* const sourceTable = ::testing::AddGlobalTestEnvironment(new live::SourceTableEnvironment);

class Chromium : public RouteFixture {
protected:
    static void SetUpTestSuite()
    {
        // As the application's start-up does, before any window builds its
        // encoder or loads its scene.
        GSTEAMER::Init(nullptr, nullptr);
        QSurfaceFormat::setDefaultFormat(SurfaceSetup::applicationFormat());
        qmlRegisterType<VideoRender>("SceneGraphRendering", 1, 0, "Renderer");
        RouteFixture::SetUpTestSuite();
    }
    // Keeps this thread's events flowing (the windows render through it).
    static void pump(int ms)
    {
        testsupport::waitFor([] { return false; }, ms);
    }
    static bool available()
    {
        return QFile::exists("/usr/bin/chromium")
            && QFile::exists(PANOPTRA_SOURCE_DIR "/tests/node_modules/playwright-core");
    }
    // Polls the page's statistics until pred holds; the last statistics.
    QJsonObject statsUntil(ChromiumPeer& b, const std::function<bool(const QJsonObject&)>& pred, int timeoutMs)
    {
        const auto deadline
            = std::chrono::steady_clock::now() + std::chrono::milliseconds(testsupport::budgetMs(timeoutMs));
        QJsonObject s;
        do {
            s = b.ask({ { "cmd", "stats" } });
            if (pred(s))
                return s;
            pump(200);
        } while (std::chrono::steady_clock::now() < deadline);
        return s;
    }
    // The browser may report decoded frames a moment before their size.
    static bool connectedAndDecoding(const QJsonObject& s)
    {
        return s.value("state").toString() == "connected" && s.value("framesDecoded").toInt() > 0
            && s.value("frameWidth").toInt() > 0;
    }
    // Opens a session of the window and waits (one GOP plus 5 s) until it decodes.
    QString openAndDecode(ChromiumPeer& b, const QString& win, QJsonObject& stats, const QString& pro = s_pro)
    {
        const QJsonObject opened = b.ask({ { "cmd", "open" }, { "pro", pro }, { "win", win } });
        QString id = opened.value("session_id").toString();
        EXPECT_FALSE(id.isEmpty()) << QJsonDocument(opened).toJson().toStdString();
        stats = statsUntil(b, connectedAndDecoding, kGopMs + 5000);
        EXPECT_TRUE(connectedAndDecoding(stats)) << QJsonDocument(stats).toJson().toStdString();
        return id;
    }
    static int waitPortFreeMs(unsigned short port, int timeoutMs)
    {
        const auto start = std::chrono::steady_clock::now();
        while (!portIsFree(port)) {
            if (std::chrono::steady_clock::now() - start > std::chrono::milliseconds(timeoutMs))
                return -1;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return int(
            std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count());
    }
};

} // namespace

TEST_F(Chromium, ABrowserWatchesAWindowFollowsASwitchAndLeaves)
{
    if (!available())
        GTEST_SKIP() << "chromium or playwright-core missing (scripts/install-deps.sh installs them)";
    H264Feeder wide(WebrtcManager::instance(), s_pro, s_wide, 1280, 720, kFps);
    WindowEncoderFeeder small(s_pro, s_small, 640, 360);
    ASSERT_EQ(wide.error(), "");
    ASSERT_TRUE(small.ok());
    ChromiumPeer browser;
    ASSERT_TRUE(browser.start(PANOPTRA_SOURCE_DIR, QString("https://127.0.0.1:%1").arg(g_httpPort)));

    // Watch: connected over DTLS 1.2 with SRTP, at the window's size, and
    // decoding at the window's rate.
    QJsonObject stats;
    const QString id = openAndDecode(browser, s_wide, stats);
    EXPECT_EQ(stats.value("tlsVersion").toString(), "FEFD");
    EXPECT_EQ(stats.value("dtlsState").toString(), "connected");
    EXPECT_FALSE(stats.value("srtpCipher").toString().isEmpty());
    EXPECT_EQ(stats.value("frameWidth").toInt(), 1280);
    EXPECT_EQ(stats.value("frameHeight").toInt(), 720);
    const int before = stats.value("framesDecoded").toInt();
    stats = statsUntil(
        browser, [&](const QJsonObject& s) { return s.value("framesDecoded").toInt() - before >= 20; }, 10000);
    EXPECT_GE(stats.value("framesDecoded").toInt() - before, 20) << "it goes on decoding";

    // Switch the session to the small window: its size from its next IDR.
    const QJsonObject login = browser.ask({ { "cmd", "fetch" }, { "path", "/api/v2/users/login.json" },
        { "body", QJsonObject { { "username", "admin" }, { "password", "vexmo" } } } });
    ASSERT_EQ(login.value("result").toString(), "ok") << ::testing::PrintToString(login);
    const QString app = QJsonDocument(
        QJsonObject { { "username", "admin" }, { "token", login.value("data").toObject().value("token").toString() } })
                            .toJson(QJsonDocument::Compact);
    const QJsonObject switched = browser.ask({ { "cmd", "fetch" }, { "path", "/api/v2/window/switch.json" },
        { "body", QJsonObject { { "pro_id", s_pro }, { "win_id", s_small }, { "session_id", id } } }, { "app", app } });
    EXPECT_EQ(switched.value("result").toString(), "ok");
    stats = statsUntil(
        browser, [](const QJsonObject& s) { return s.value("frameWidth").toInt() == 640; }, kGopMs + 3000);
    EXPECT_EQ(stats.value("frameWidth").toInt(), 640);
    EXPECT_EQ(stats.value("frameHeight").toInt(), 360);

    // Leave through the route: the socket is free within 200 ms.
    unsigned short port = WebrtcManager::instance()->sessionView(id).port;
    browser.ask({ { "cmd", "fetch" }, { "path", "/api/v2/webrtc/remove_session.json" },
        { "body", QJsonObject { { "session_id", id } } } });
    int freedMs = waitPortFreeMs(port, 2000);
    std::printf("socket freed %d ms after remove_session\n", freedMs);
    EXPECT_GE(freedMs, 0);
    EXPECT_LE(freedMs, 200);

    // Leave by pc.close(): its close_notify ends the session as fast.
    const QString second = openAndDecode(browser, s_wide, stats);
    port = WebrtcManager::instance()->sessionView(second).port;
    browser.ask({ { "cmd", "close" } });
    freedMs = waitPortFreeMs(port, 2000);
    std::printf("socket freed %d ms after pc.close()\n", freedMs);
    EXPECT_GE(freedMs, 0);
    EXPECT_LE(freedMs, 200);

    // A killed browser: its session goes 12 to 13.1 s after its last check.
    const QString third = openAndDecode(browser, s_wide, stats);
    port = WebrtcManager::instance()->sessionView(third).port;
    browser.ask({ { "cmd", "kill" } });
    browser.waitEnded();
    const int64_t lastCheck = WebrtcManager::instance()->sessionView(third).lastStunMs;
    ASSERT_GE(waitPortFreeMs(port, 16000), 0);
    const int64_t freedAt
        = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
              .count();
    std::printf("socket freed %lld ms after the killed browser's last check\n", (long long)(freedAt - lastCheck));
    EXPECT_GE(freedAt - lastCheck, 12000);
    EXPECT_LE(freedAt - lastCheck, 13100);
}

// A running program's preview window shows a live test source: the browser
// decodes what the window renders, at the window's size and rate, within one
// GOP plus 5 s of asking for the offer.
TEST_F(Chromium, ABrowserWatchesARenderedWindowOfALiveSource)
{
    if (!available())
        GTEST_SKIP() << "chromium or playwright-core missing (scripts/install-deps.sh installs them)";
    ndikit::TestSourceProcess source(1, "Live Source", { "--fps", QString::number(kFps) });
    ASSERT_TRUE(source.waitForLine("ready Live Source 1"));
    ASSERT_TRUE(live::listed("Live Source 1"));

    // A 4:3 program of its own, started and given the source on its preview
    // window through the routes. Windows are encoded 1280 wide (landscape),
    // height to scale: 640 x 480 is sent as 1280 x 960, a size no other
    // window of this program has.
    constexpr int kWidth = 640, kHeight = 480, kSentWidth = 1280, kSentHeight = 960;
    BaseConfig* controller = BaseConfig::getInstance();
    auto c = client();
    // A fresh login: another test's browser may have logged in since.
    QString token;
    ASSERT_TRUE(servertest::loggedIn(*c, &token));
    const QByteArray header = servertest::appHeader("admin", token);
    const QStringList before = controller->programIds();
    ASSERT_EQ(
        servertest::post(*c, "/api/v2/program/add.json",
            { { "name", "Live" },
                { "resolution",
                    QJsonObject { { "width", kWidth }, { "height", kHeight }, { "index", 1 }, { "aspect", 1.3333 } } },
                { "frameRate", kFps } },
            header)
            .value("result")
            .toString(),
        "ok");
    QString pro;
    ASSERT_TRUE(testsupport::waitFor([&] {
        for (const QString& id : controller->programIds())
            if (!before.contains(id))
                pro = id;
        return !pro.isEmpty();
    }));
    EXPECT_EQ(servertest::post(*c, "/api/v2/program/set_status.json", { { "pro_id", pro }, { "status", true } }, header)
                  .value("result")
                  .toString(),
        "ok");
    EXPECT_EQ(servertest::post(*c, "/api/v2/window/set_source.json",
                  { { "pro_id", pro },
                      { "to",
                          QJsonObject { { "pro_id", pro }, { "win_id", "pvw" }, { "type", "pvw" }, { "pos_id", 1 },
                              { "stream_id", "Live Source 1" } } } },
                  header)
                  .value("result")
                  .toString(),
        "ok");
    QSharedPointer<WindowMultiThreaded> window;
    ASSERT_TRUE(testsupport::waitFor(
        [&] {
            window = controller->getProgram(pro)->getWindow("pvw")->getRenderer();
            return window && window->encoder() && window->renderer()->stats().passes >= 2;
        },
        20000))
        << "the preview window never rendered";

    ChromiumPeer browser;
    ASSERT_TRUE(browser.start(PANOPTRA_SOURCE_DIR, QString("https://127.0.0.1:%1").arg(g_httpPort)));
    QJsonObject stats;
    const auto asked = std::chrono::steady_clock::now();
    openAndDecode(browser, "pvw", stats, pro);
    const auto decodingMs
        = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - asked).count();
    EXPECT_EQ(stats.value("tlsVersion").toString(), "FEFD");
    EXPECT_EQ(stats.value("dtlsState").toString(), "connected");
    EXPECT_FALSE(stats.value("srtpCipher").toString().isEmpty());
    EXPECT_EQ(stats.value("frameWidth").toInt(), kSentWidth);
    EXPECT_EQ(stats.value("frameHeight").toInt(), kSentHeight);
    const int first = stats.value("framesDecoded").toInt();
    pump(2000);
    stats = browser.ask({ { "cmd", "stats" } });
    const int decoded = stats.value("framesDecoded").toInt() - first;
    std::printf("rendered window: %s, %s, %s, %dx%d, decoding %lld ms after the offer was asked for, %d frames "
                "decoded in 2 s\n",
        qPrintable(stats.value("state").toString()), qPrintable(stats.value("tlsVersion").toString()),
        qPrintable(stats.value("srtpCipher").toString()), stats.value("frameWidth").toInt(),
        stats.value("frameHeight").toInt(), (long long)decodingMs, decoded);
    EXPECT_EQ(stats.value("state").toString(), "connected");
    EXPECT_GE(decoded, 20);

    // What the browser shows is the scene: the source's red (191, 57, 57,
    // with its white bar crossing) in the tile's middle, and the black
    // letterbox bars of a 16:9 source in the 4:3 window above and below.
    const QJsonObject seen = browser.ask({ { "cmd", "bands" },
        { "bands", QJsonArray { QJsonArray { 0.0, 0.1 }, QJsonArray { 0.4, 0.6 }, QJsonArray { 0.9, 1.0 } } } });
    const QJsonArray bands = seen.value("bands").toArray();
    std::printf("picture bands (RGB means): top %s, middle %s, bottom %s\n",
        QJsonDocument(bands.at(0).toArray()).toJson(QJsonDocument::Compact).constData(),
        QJsonDocument(bands.at(1).toArray()).toJson(QJsonDocument::Compact).constData(),
        QJsonDocument(bands.at(2).toArray()).toJson(QJsonDocument::Compact).constData());
    ASSERT_EQ(bands.size(), 3) << QJsonDocument(seen).toJson().toStdString();
    const auto rgb = [&](int band, int channel) { return bands.at(band).toArray().at(channel).toInt(); };
    for (int band : { 0, 2 })
        for (int channel = 0; channel < 3; ++channel)
            EXPECT_LE(rgb(band, channel), 40) << "band " << band;
    EXPECT_NEAR(rgb(1, 0), 194, 30);
    EXPECT_NEAR(rgb(1, 1), 68, 30);
    EXPECT_NEAR(rgb(1, 2), 68, 30);

    // On a busy machine the browser part outlasts the server's idle limit
    // for the connection used above: a new one stops the program.
    c = client();
    EXPECT_EQ(
        servertest::post(*c, "/api/v2/program/set_status.json", { { "pro_id", pro }, { "status", false } }, header)
            .value("result")
            .toString(),
        "ok");
}
