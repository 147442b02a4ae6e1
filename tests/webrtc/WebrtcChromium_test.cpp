// The WebRTC preview against a real browser: Debian's chromium, driven by
// playwright-core (tests/webrtc/chromium_peer.mjs), asks the application's
// HTTPS routes for a window, connects over ICE-lite, DTLS 1.2 and SRTP and
// decodes the window's H.264. Until the windows' own encoders feed the
// manager, each window is fed here by an x264 pipeline (zero-latency, one
// thread, one slice per picture) whose NAL units enter sendVideo exactly as
// the encoder hands them on.
#include "WebrtcRouteKit.h"
#include "WebrtcTestKit.h"

#include <QFile>
#include <QProcess>

#include <gst/app/gstappsink.h>
#include <gst/gst.h>

using namespace webrtctest;

namespace {

constexpr int kFps = 25;
constexpr int kGopFrames = 2 * kFps;
constexpr int kGopMs = kGopFrames * 1000 / kFps;

// An x264 stream of one window, handed to the manager NAL unit by NAL unit
// with the kinds the encoder gives them.
class WindowFeeder {
public:
    WindowFeeder(const QString& pro, const QString& win, int width, int height)
        : m_pro(pro)
        , m_win(win)
    {
        const QString description = QString("videotestsrc is-live=true pattern=ball ! video/x-raw,format=I420,width=%1,"
                                            "height=%2,framerate=%3/1 ! x264enc tune=zerolatency threads=1 "
                                            "sliced-threads=false speed-preset=ultrafast bitrate=800 key-int-max=%4 ! "
                                            "video/x-h264,stream-format=byte-stream,alignment=au,profile=constrained-baseline ! "
                                            "appsink name=sink emit-signals=false sync=false max-buffers=4 drop=true")
                                        .arg(width)
                                        .arg(height)
                                        .arg(kFps)
                                        .arg(kGopFrames);
        GError* error = nullptr;
        m_pipeline = gst_parse_launch(description.toUtf8().constData(), &error);
        if (error) {
            ADD_FAILURE() << error->message;
            g_error_free(error);
        }
        GstElement* sink = gst_bin_get_by_name(GST_BIN(m_pipeline), "sink");
        GstAppSinkCallbacks callbacks {};
        callbacks.new_sample = &WindowFeeder::onSample;
        gst_app_sink_set_callbacks(GST_APP_SINK(sink), &callbacks, this, nullptr);
        gst_object_unref(sink);
        gst_element_set_state(m_pipeline, GST_STATE_PLAYING);
    }
    ~WindowFeeder()
    {
        gst_element_set_state(m_pipeline, GST_STATE_NULL);
        gst_object_unref(m_pipeline);
    }

private:
    static GstFlowReturn onSample(GstAppSink* sink, gpointer self)
    {
        GstSample* sample = gst_app_sink_pull_sample(sink);
        if (!sample)
            return GST_FLOW_OK;
        GstMapInfo map;
        GstBuffer* buffer = gst_sample_get_buffer(sample);
        if (gst_buffer_map(buffer, &map, GST_MAP_READ)) {
            static_cast<WindowFeeder*>(self)->split(reinterpret_cast<const char*>(map.data), int(map.size));
            gst_buffer_unmap(buffer, &map);
        }
        gst_sample_unref(sample);
        return GST_FLOW_OK;
    }
    void split(const char* data, int size)
    {
        // Annex B: units start after 00 00 01 (or 00 00 00 01).
        std::vector<std::pair<int, int>> units;
        int start = -1;
        for (int i = 0; i + 2 < size; ++i) {
            if (data[i] == 0 && data[i + 1] == 0 && data[i + 2] == 1) {
                if (start >= 0) {
                    int end = i;
                    while (end > start && data[end - 1] == 0)
                        --end;
                    units.emplace_back(start, end - start);
                }
                start = i + 3;
                i += 2;
            }
        }
        if (start >= 0 && start < size)
            units.emplace_back(start, size - start);
        for (const auto& u : units)
            hand(data + u.first, u.second);
    }
    void hand(const char* nal, int length)
    {
        WebrtcManager* m = WebrtcManager::instance();
        const int type = nal[0] & 0x1F;
        if (type == 7)
            m_sps.assign(nal, nal + length);
        if (type == 8)
            m_pps.assign(nal, nal + length);
        if (type == 5) {
            if (!m_sps.empty())
                m->sendVideo(m_pro, m_win, m_sps.data(), int(m_sps.size()), 0, 1, kFps);
            if (!m_pps.empty())
                m->sendVideo(m_pro, m_win, m_pps.data(), int(m_pps.size()), 0, 1, kFps);
            m->sendVideo(m_pro, m_win, nal, length, 0, 2, kFps);
        } else if (type == 1) {
            m->sendVideo(m_pro, m_win, nal, length, 0, 0, kFps);
        } else {
            m->sendVideo(m_pro, m_win, nal, length, 0, 3, kFps);
        }
    }

    QString m_pro, m_win;
    GstElement* m_pipeline = nullptr;
    std::vector<char> m_sps, m_pps;
};

// The browser, one JSON command and reply at a time.
class Browser {
public:
    bool start()
    {
        m_process.setWorkingDirectory(PANOPTRA_SOURCE_DIR "/tests");
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_process.start("node",
            { PANOPTRA_SOURCE_DIR "/tests/webrtc/chromium_peer.mjs", QString("https://127.0.0.1:%1").arg(g_httpPort) });
        return next(60000).value("ready").toBool();
    }
    ~Browser()
    {
        if (m_process.state() != QProcess::NotRunning) {
            ask({ { "cmd", "quit" } }, 20000);
            if (!m_process.waitForFinished(10000))
                m_process.kill();
        }
    }
    QJsonObject ask(const QJsonObject& command, int timeoutMs = 20000)
    {
        m_process.write(QJsonDocument(command).toJson(QJsonDocument::Compact) + "\n");
        return next(timeoutMs);
    }
    void waitEnded() { m_process.waitForFinished(20000); }

private:
    QJsonObject next(int timeoutMs)
    {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (!m_process.canReadLine()) {
            if (std::chrono::steady_clock::now() > deadline || m_process.state() == QProcess::NotRunning)
                return QJsonObject();
            m_process.waitForReadyRead(100);
        }
        return QJsonDocument::fromJson(m_process.readLine()).object();
    }
    QProcess m_process;
};

class Chromium : public RouteFixture {
protected:
    static bool available()
    {
        return QFile::exists("/usr/bin/chromium") && QFile::exists(PANOPTRA_SOURCE_DIR "/tests/node_modules/playwright-core");
    }
    // Polls the page's statistics until pred holds; the last statistics.
    QJsonObject statsUntil(Browser& b, const std::function<bool(const QJsonObject&)>& pred, int timeoutMs)
    {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        QJsonObject s;
        do {
            s = b.ask({ { "cmd", "stats" } });
            if (pred(s))
                return s;
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
        } while (std::chrono::steady_clock::now() < deadline);
        return s;
    }
    static bool connectedAndDecoding(const QJsonObject& s)
    {
        return s.value("state").toString() == "connected" && s.value("framesDecoded").toInt() > 0;
    }
    // Opens a session of the window and waits (one GOP plus 5 s) until it decodes.
    QString openAndDecode(Browser& b, const QString& win, QJsonObject& stats)
    {
        const QJsonObject opened = b.ask({ { "cmd", "open" }, { "pro", s_pro }, { "win", win } });
        const QString id = opened.value("session_id").toString();
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
        return int(std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count());
    }
};

} // namespace

TEST_F(Chromium, ABrowserWatchesAWindowFollowsASwitchAndLeaves)
{
    if (!available())
        GTEST_SKIP() << "chromium or playwright-core missing (scripts/install-deps.sh installs them)";
    gst_init(nullptr, nullptr);
    WindowFeeder wide(s_pro, s_wide, 1280, 720);
    WindowFeeder small(s_pro, s_small, 640, 360);
    Browser browser;
    ASSERT_TRUE(browser.start());

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
    std::this_thread::sleep_for(std::chrono::seconds(2));
    stats = browser.ask({ { "cmd", "stats" } });
    EXPECT_GE(stats.value("framesDecoded").toInt() - before, 20);

    // Switch the session to the small window: its size from its next IDR.
    const QJsonObject login = browser.ask(
        { { "cmd", "fetch" }, { "path", "/api/v2/users/login.json" }, { "body", QJsonObject { { "username", "admin" }, { "password", "vexmo" } } } });
    const QString app = QJsonDocument(QJsonObject { { "username", "admin" },
                                          { "token", login.value("data").toObject().value("token").toString() } })
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
    const int64_t freedAt = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now().time_since_epoch())
                                .count();
    std::printf("socket freed %lld ms after the killed browser's last check\n", (long long)(freedAt - lastCheck));
    EXPECT_GE(freedAt - lastCheck, 12000);
    EXPECT_LE(freedAt - lastCheck, 13100);
}
