// A program mix of live sources end to end: test-source programs send tones
// over the network-video stand-in, the source table connects to them, and a
// mixer mixes what their connections write for its windows' network output
// (recorded in its place, and once received by a stand-in receiver of the
// window's real output).
#include "../ndi/NdiTestKit.h"
#include "MixerTestKit.h"
#include "TestSupport.h"
#include "app/BaseConfig.h"
#include "media/AudioMixSink.h"
#include "media/GlobalData.h"
#include "media/VideoFrame.h"
#include "output/AudioOutputMixer.h"
#include "output/MediaOutputManager.h"
#include "sources/MediaConnection.h"
#include "sources/SourceManager.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>

#include <chrono>
#include <cmath>
#include <thread>

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
    // Checks that the next 50 blocks come in at dbfs. On a busy machine a round
    // that found one source's block late mixes without it, so it listens
    // again, a few times at most, until 50 blocks came through whole.
    void nextLevelIs(double dbfs)
    {
        double level = -200.0;
        for (int attempt = 0; attempt < 8 && std::abs(level - dbfs) >= 1.0; ++attempt)
            level = nextLevel();
        EXPECT_NEAR(level, dbfs, 1.0);
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
    nextLevelIs(-23.0);
    // Mean magnitude 2/pi of the peak, against the meter's 2^11: +0.4 dB. A
    // round that found no block on time (a busy machine) reads silent until
    // the next one.
    EXPECT_TRUE(testsupport::waitFor([&] {
        return std::abs(mixer.getVolume(0) - 0.4) < 0.3 && std::abs(mixer.getVolume(1) - 0.4) < 0.3;
    })) << mixer.getVolume(0)
        << " " << mixer.getVolume(1);
    const Recorder::Block block = recorder.blocks().back();
    EXPECT_EQ(block.pro_id, "61");
    EXPECT_EQ(block.win_id, "1");
    EXPECT_EQ(block.perChannel, 480);

    // A second source with another tone adds its power: +3 dB.
    ndikit::TestSourceProcess beep(1, "Beep", { "--tone", "1500" });
    auto beepAudio = startSource(beep, "Beep 1");
    ASSERT_TRUE(beepAudio);
    ASSERT_TRUE(settlesAt(-20.0));
    nextLevelIs(-20.0);

    // The first source stops: it drops out and the other goes on alone.
    tone.reset();
    ASSERT_TRUE(settlesAt(-23.0));
    nextLevelIs(-23.0);

    // None left: nothing is sent and the levels read -200.
    beep.process().terminate();
    ASSERT_TRUE(testsupport::waitFor([&] { return mixer.getVolume(0) == -200.0; }, 10000));
    // A round already under way when the levels fell may still hand its block on.
    ASSERT_TRUE(mixerkit::roundsPass(mixer, 1));
    const size_t sent = recorder.count();
    ASSERT_TRUE(mixerkit::roundsPass(mixer, 10));
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

    const std::shared_ptr<MediaConnection> connection = manager->getConnection("Tone 1");
    ASSERT_TRUE(connection);

    mixer.destroy();
    EXPECT_FALSE(GlobalData::instance()->getAudioSink("61", "Tone 1", "pgm"));
    // A fresh input under the mixer's key gets nothing: the connection no
    // longer delivers to this mixer.
    auto probe = std::make_shared<AudioMixSink>(99);
    probe->SetMixSource(48000, 2, 16, 10);
    probe->Open();
    probe->setDetached(false);
    ASSERT_TRUE(GlobalData::instance()->setAudioSink("61", "Tone 1", "pgm", probe));
    // Blocks of the tone go on passing the sinks, none into the probe.
    const long offered = connection->offeredAudioBlocks();
    EXPECT_TRUE(testsupport::waitFor([&] { return connection->offeredAudioBlocks() >= offered + 5; }));
    EXPECT_EQ(probe->Buffered(), 0);
    GlobalData::instance()->removeAudioSink("61", "Tone 1", "pgm");
}

TEST_F(ProgramAudio, AReceiverOfTheWindowOutputGetsTheProgramMix)
{
    // The window's real network output instead of the recorder.
    mixer.setNdiAudioSender(nullptr);
    MediaOutputManager& outputs = MediaOutputManager::instance();
    outputs.setWebControl("61", "1", "https://127.0.0.1:81/?program=61");
    outputs.setNDIEnable("61", "1", true);
    // The window's first picture makes its sender; its audio flows from then on.
    ndikit::Picture picture(320, 180);
    outputs.sendNDIVideo("61", "1",
        std::make_shared<VideoFrame>(picture.bytes.data(), uint32_t(picture.width), uint32_t(picture.height),
            uint32_t(picture.bytes.size()), uint32_t(picture.stride)),
        "Mix Test (Wall)", NDIlib_FourCC_video_type_UYVY);
    ndikit::Receiver receiver = ndikit::makeReceiver("Mix Test (Wall)");
    ndikit::FrameSync sync(NDIlib_framesync_create(receiver.get()));
    ASSERT_TRUE(ndikit::connected(receiver));

    mixer.Open();
    ndikit::TestSourceProcess tone(1, "Tone");
    auto audio = startSource(tone, "Tone 1");
    ASSERT_TRUE(audio);

    // 0.5 s of what the receiver hears, back in 16-bit terms: the output
    // sends at reference level 20 dB, so 16-bit full scale arrives as 10.0.
    // Read a little slower than real time, so no read comes up short.
    const auto heardDbfs = [&] {
        double sum = 0.0;
        long count = 0;
        QElapsedTimer waited;
        waited.start();
        while (count < 48000 && waited.elapsed() < testsupport::budgetMs(10000)) {
            std::this_thread::sleep_for(std::chrono::milliseconds(12));
            NDIlib_audio_frame_v2_t frame;
            NDIlib_framesync_capture_audio(sync.get(), &frame, 48000, 2, 480);
            if (frame.p_data) {
                for (int c = 0; c < frame.no_channels; ++c) {
                    const auto* samples = reinterpret_cast<const float*>(
                        reinterpret_cast<const uint8_t*>(frame.p_data) + c * frame.channel_stride_in_bytes);
                    for (int i = 0; i < frame.no_samples; ++i, ++count)
                        sum += double(samples[i]) * double(samples[i]);
                }
            }
            NDIlib_framesync_free_audio(sync.get(), &frame);
        }
        return count ? 20.0 * std::log10(std::sqrt(sum / double(count)) / 10.0) : -200.0;
    };
    ASSERT_TRUE(testsupport::waitFor([&] { return std::abs(mixer.getVolume(0) - 0.4) < 0.3; }, 10000));
    heardDbfs(); // what was on its way before
    // On a busy machine a round the mixer could not run in time reaches the
    // receiver as a gap of silence: it listens again, a few half seconds at
    // most, until one came through whole.
    double heard = -200.0;
    for (int attempt = 0; attempt < 8 && std::abs(heard + 23.0) >= 1.0; ++attempt)
        heard = heardDbfs();
    EXPECT_NEAR(heard, -23.0, 1.0);
    outputs.removeItem("61", "1");
}

} // namespace
