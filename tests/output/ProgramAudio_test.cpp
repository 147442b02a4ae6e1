// A program mix of live sources end to end: test-source programs send tones
// over the network-video stand-in, the source table connects to them, and a
// mixer mixes what their connections write for its windows' network output
// (recorded here in its place).
#include "AudioMixSink.h"
#include "AudioOutputMixer.h"
#include "BaseConfig.h"
#include "GlobalData.h"
#include "MediaConnection.h"
#include "MixerTestKit.h"
#include "../ndi/NdiTestKit.h"
#include "SourceManager.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <QTest>

namespace {

using mixerkit::Recorder;
using mixerkit::rmsDbfs;

// Holds a source's connection with its audio on, as the video item of a
// window that shows the source does.
class AudioHolder {
public:
    explicit AudioHolder(std::shared_ptr<MediaConnection> connection)
        : m_connection(std::move(connection))
    {
        m_connection->startPlay();
        m_connection->acquireVideoGetting(MediaConnection::BandWidthHigh, this);
        m_connection->enableAudio(true, this);
    }
    ~AudioHolder()
    {
        m_connection->enableAudio(false, this);
        m_connection->releaseVideoGetting(MediaConnection::BandWidthBoth, this);
    }

private:
    std::shared_ptr<MediaConnection> m_connection;
};

class ProgramAudio : public ::testing::Test {
protected:
    void SetUp() override
    {
        manager = std::make_unique<SourceManager>();
        manager->load();
        BaseConfig::getInstance()->setSourceManager(manager.get());
        manager->startDiscover();
        mixer.setProId("61");
        mixer.setNdiAudioSender(recorder.sender());
        mixer.setNDIState("1", "ndi");
    }
    void TearDown() override
    {
        mixer.destroy();
        BaseConfig::getInstance()->setSourceManager(nullptr);
        manager.reset();
    }

    // Starts a test source sending `toneHz`, holds its audio and puts it in the mix.
    std::unique_ptr<AudioHolder> startSource(ndikit::TestSourceProcess& process, const QString& name)
    {
        EXPECT_TRUE(process.waitForLine("ready " + name));
        std::shared_ptr<MediaConnection> connection;
        EXPECT_TRUE(testsupport::waitFor([&] { return bool(connection = manager->getConnection(name)); }));
        if (!connection)
            return nullptr;
        auto holder = std::make_unique<AudioHolder>(connection);
        GlobalData::instance()->setAudioMixType("61", name, "always");
        EXPECT_EQ(mixer.addInputSource(name), 0);
        return holder;
    }
    // The RMS level of the next `blocks` blocks sent.
    double nextLevel(size_t blocks = 50)
    {
        const size_t from = recorder.count();
        EXPECT_TRUE(testsupport::waitFor([&] { return recorder.count() >= from + blocks; }));
        return rmsDbfs(recorder.samplesFrom(from));
    }
    // Waits until the level of the last 20 blocks satisfies `near`.
    bool settlesAt(double dbfs)
    {
        return testsupport::waitFor(
            [&] {
                const size_t n = recorder.count();
                return n >= 20 && std::abs(rmsDbfs(recorder.samplesFrom(n - 20)) - dbfs) < 1.0;
            },
            10000);
    }

    testsupport::TempHome home;
    ndikit::ScopedRegistry registry;
    std::unique_ptr<SourceManager> manager;
    Recorder recorder;
    AudioOutputMixer mixer { "pgm", 48000, 2, 16, 10 };
};

TEST_F(ProgramAudio, SourcesArriveAtTheirLevelAddUpAndDropOutWhenTheyStop)
{
    mixer.Open();
    auto tone = std::make_unique<ndikit::TestSourceProcess>(1, "Tone");
    auto toneAudio = startSource(*tone, "Tone 1");
    ASSERT_TRUE(toneAudio);

    // A -20 dBFS sine (its peak) is -23 dBFS RMS; the mixer passes it unchanged.
    ASSERT_TRUE(settlesAt(-23.0));
    EXPECT_NEAR(nextLevel(), -23.0, 1.0);
    // Mean magnitude 2/pi of the peak, against the meter's 2^11: +0.4 dB.
    EXPECT_NEAR(mixer.getVolume(0), 0.4, 0.3);
    EXPECT_NEAR(mixer.getVolume(1), 0.4, 0.3);
    const Recorder::Block block = recorder.blocks().back();
    EXPECT_EQ(block.pro_id, "61");
    EXPECT_EQ(block.win_id, "1");
    EXPECT_EQ(block.perChannel, 480);

    // A second source with another tone adds its power: +3 dB.
    ndikit::TestSourceProcess beep(1, "Beep", { "--tone", "1500" });
    auto beepAudio = startSource(beep, "Beep 1");
    ASSERT_TRUE(beepAudio);
    ASSERT_TRUE(settlesAt(-20.0));
    EXPECT_NEAR(nextLevel(), -20.0, 1.0);

    // The first source stops: it drops out and the other goes on alone.
    tone.reset();
    ASSERT_TRUE(settlesAt(-23.0));
    EXPECT_NEAR(nextLevel(), -23.0, 1.0);

    // None left: nothing is sent and the levels read -200.
    beep.process().terminate();
    ASSERT_TRUE(testsupport::waitFor([&] { return mixer.getVolume(0) == -200.0; }, 10000));
    const size_t sent = recorder.count();
    QTest::qWait(100);
    EXPECT_EQ(recorder.count(), sent);
    EXPECT_EQ(mixer.getVolume(1), -200.0);
}

TEST_F(ProgramAudio, ADestroyedMixerTakesItsSourcesOutOfTheConnections)
{
    mixer.Open();
    ndikit::TestSourceProcess tone(1, "Tone");
    auto audio = startSource(tone, "Tone 1");
    ASSERT_TRUE(audio);
    ASSERT_TRUE(settlesAt(-23.0));

    mixer.destroy();
    EXPECT_FALSE(GlobalData::instance()->getAudioSink("61", "Tone 1", "pgm"));
    // A fresh input under the mixer's key gets nothing: the connection no
    // longer delivers to this mixer.
    auto probe = std::make_shared<AudioMixSink>(99);
    probe->SetMixSource(48000, 2, 16, 10);
    probe->Open();
    probe->setDetached(false);
    ASSERT_TRUE(GlobalData::instance()->setAudioSink("61", "Tone 1", "pgm", probe));
    QTest::qWait(200);
    EXPECT_EQ(probe->Buffered(), 0);
    GlobalData::instance()->removeAudioSink("61", "Tone 1", "pgm");
}

} // namespace
