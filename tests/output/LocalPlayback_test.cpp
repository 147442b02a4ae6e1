// Local playback of a program mix on a private PulseAudio server: a window
// with screen output plays the mix, and it stops with the screen output.
// The server is this process's own (its own runtime folder and null sink),
// so the test owns everything it measures. Qt's sound-server client is made
// once per process, so this program holds only tests against this server.
#include "MixerTestKit.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

namespace {

using mixerkit::Feeder;
using mixerkit::MixerWithSource;
using mixerkit::rmsDbfs;

constexpr const char* kSink = "panoptra_mix";

// pulseaudio with a null sink, reachable only through this process's
// environment. Without the native protocol module clients are refused.
class PrivatePulse {
public:
    PrivatePulse()
    {
        qputenv("XDG_RUNTIME_DIR", m_runtime.path().toLocal8Bit());
        qputenv("PULSE_SERVER", ("unix:" + socketPath()).toLocal8Bit());
        m_server.setProgram("pulseaudio");
        m_server.setArguments(
            { "--daemonize=no", "--exit-idle-time=-1", "-n", "-L", "module-native-protocol-unix auth-anonymous=1", "-L",
                QStringLiteral("module-null-sink sink_name=%1 rate=48000 channels=2").arg(kSink) });
        m_server.setStandardOutputFile(QProcess::nullDevice());
        m_server.setStandardErrorFile(QProcess::nullDevice());
        m_server.start();
    }
    ~PrivatePulse()
    {
        m_server.terminate();
        if (!m_server.waitForFinished(testsupport::budgetMs(5000))) {
            m_server.kill();
            m_server.waitForFinished(testsupport::budgetMs(5000));
        }
    }
    // The server answers and has its sink.
    bool ready()
    {
        return testsupport::waitFor([&] {
            if (!QFile::exists(socketPath()))
                return false;
            QProcess list;
            list.start("pactl", { "list", "short", "sinks" });
            return list.waitForFinished(testsupport::budgetMs(2000)) && list.readAllStandardOutput().contains(kSink);
        });
    }

private:
    QString socketPath() const { return m_runtime.path() + "/pulse/native"; }

    QTemporaryDir m_runtime;
    QProcess m_server;
};

// What the sink plays, read from its monitor as 48 kHz stereo.
class SinkRecorder {
public:
    SinkRecorder()
    {
        QObject::connect(
            &m_parec, &QProcess::readyReadStandardOutput, [this] { m_bytes += m_parec.readAllStandardOutput(); });
        m_parec.setStandardErrorFile(QProcess::nullDevice());
        m_parec.start("parec",
            { "-d", QStringLiteral("%1.monitor").arg(kSink), "--raw", "--format=s16le", "--rate=48000", "--channels=2",
                "--latency-msec=20" });
    }
    ~SinkRecorder()
    {
        m_parec.kill();
        m_parec.waitForFinished(testsupport::budgetMs(5000));
    }
    // The level of the last `ms` recorded.
    double lastLevel(int ms) const
    {
        const int bytes = 48 * 4 * ms;
        if (m_bytes.size() < bytes)
            return -200.0;
        const auto* samples = reinterpret_cast<const int16_t*>(m_bytes.constData() + m_bytes.size() - bytes);
        return rmsDbfs(std::vector<int16_t>(samples, samples + bytes / 2));
    }

private:
    QProcess m_parec;
    QByteArray m_bytes;
};

TEST(LocalPlayback, AWindowWithScreenOutputPlaysTheMix)
{
    PrivatePulse pulse;
    ASSERT_TRUE(pulse.ready());
    MixerWithSource m;
    ASSERT_TRUE(testsupport::waitFor([&] { return !m.mixer.playbackChanging(); }));
    ASSERT_TRUE(m.mixer.hasPlayback());
    EXPECT_EQ(m.mixer.audioDevice().deviceName(), kSink);

    SinkRecorder sink;
    Feeder feeder(m.sink, mixerkit::tone);
    m.mixer.Open();
    m.mixer.setScreenState("1", 1);
    // The device buffer holds 0.64 s, so the sound comes out a little later.
    EXPECT_TRUE(testsupport::waitFor([&] { return std::abs(sink.lastLevel(500) + 23.0) < 1.0; }, 10000))
        << "played at " << sink.lastLevel(500) << " dBFS";
    EXPECT_NEAR(m.mixer.getVolume(0), 0.4, 0.3);
    EXPECT_NEAR(m.mixer.getVolume(1), 0.4, 0.3);

    // No window on a screen: the device falls silent; the network output goes on.
    m.mixer.setScreenState("1", 0);
    EXPECT_TRUE(testsupport::waitFor([&] { return sink.lastLevel(200) < -80.0; }, 10000))
        << "still playing at " << sink.lastLevel(200) << " dBFS";
    EXPECT_TRUE(m.sendsMore());

    // Another device: none at all, then the sink again.
    const QAudioDeviceInfo sinkDevice = m.mixer.audioDevice();
    m.mixer.changeAudioDevice(QAudioDeviceInfo());
    ASSERT_TRUE(testsupport::waitFor([&] { return !m.mixer.playbackChanging(); }));
    EXPECT_FALSE(m.mixer.hasPlayback());
    m.mixer.changeAudioDevice(sinkDevice);
    ASSERT_TRUE(testsupport::waitFor([&] { return !m.mixer.playbackChanging(); }));
    EXPECT_TRUE(m.mixer.hasPlayback());
    m.mixer.setScreenState("1", 2);
    EXPECT_TRUE(testsupport::waitFor([&] { return std::abs(sink.lastLevel(500) + 23.0) < 1.0; }, 10000))
        << "played at " << sink.lastLevel(500) << " dBFS";
    m.mixer.destroy();
    EXPECT_FALSE(m.mixer.hasPlayback());
}

} // namespace
