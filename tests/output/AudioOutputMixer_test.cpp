// Which sources a mix takes by their mix type, "follow" tracking the mix's
// video source, and the labels the mixer stores for its program; what the
// mixing thread sends, meters and drops, on its 10 ms schedule.
#include "output/AudioOutputMixer.h"

#include "MixerTestKit.h"
#include "TestSupport.h"
#include "base/Globals.h"
#include "base/JsonFile.h"
#include "media/GlobalData.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QSignalSpy>
#include <QTest>

namespace {

using mixerkit::Clock;
using mixerkit::Feeder;
using mixerkit::MixerWithSource;
using mixerkit::Recorder;

TEST(AudioOutputMixer, SourcesEnterTheMixByTheirMixType)
{
    testsupport::TempHome home;
    GlobalData* registry = GlobalData::instance();
    AudioOutputMixer mixer("pgm", 48000, 2, 16, 10);
    mixer.setProId("41");
    registry->setAudioMixType("41", "Always", "always");
    registry->setAudioMixType("41", "Follow", "follow");
    registry->setAudioMixType("41", "Closed", "close");
    for (const char* source : { "Always", "Follow", "Closed" }) {
        registry->setSrcId("41", source, "1");
        mixer.addInputSource(source);
    }
    EXPECT_TRUE(mixer.isMixed("Always"));
    EXPECT_FALSE(mixer.isMixed("Follow"));
    EXPECT_FALSE(mixer.isMixed("Closed"));

    // "follow" audio comes and goes with the picture.
    mixer.setVideoSource("Follow", "1", 2);
    EXPECT_TRUE(mixer.isMixed("Follow"));
    mixer.setVideoSource("Always", "1", 1);
    EXPECT_FALSE(mixer.isMixed("Follow"));
    EXPECT_TRUE(mixer.isMixed("Always"));

    // A source no window of the program shows is left as it is.
    registry->setAudioMixType("41", "Unused", "follow");
    mixer.setVideoSource("Unused", "1", 3);
    EXPECT_FALSE(mixer.isMixed("Unused"));

    registry->setAudioMixType("41", "Always", "close");
    mixer.addInputSource("Always");
    EXPECT_FALSE(mixer.isMixed("Always"));
}

TEST(AudioOutputMixer, AChangedLabelIsStoredAndAnnounced)
{
    testsupport::TempHome home;
    AudioOutputMixer mixer("pvw", 48000, 2, 16, 10);
    mixer.setProId("42");
    QSignalSpy announced(&mixer, &AudioOutputMixer::sourceNameChanged);

    mixer.setPatternName("CamA", "Stage");
    mixer.setPatternName("CamA", "Stage");
    ASSERT_EQ(announced.count(), 1);
    EXPECT_EQ(announced.at(0), QVariantList({ "CamA", "Stage" }));
    EXPECT_EQ(GlobalData::instance()->getPatternName("42", "CamA"), "Stage");
    EXPECT_TRUE(JsonFile::load(g_savePath + "/source_contents.json").value("data").toArray().size() >= 1);
}

TEST(AudioOutputMixer, SendsMetersAndStopsWithWhatItsSourcesDeliver)
{
    MixerWithSource m;
    ASSERT_TRUE(m.sink);
    EXPECT_FALSE(m.sink->isDetached());
    m.mixer.Open();
    ASSERT_TRUE(m.roundsPass());
    EXPECT_EQ(m.recorder.count(), 0u) << "no source delivered: nothing is sent";
    EXPECT_EQ(m.mixer.getVolume(0), -200.0);

    {
        Feeder feeder(m.sink, [](long) { return int16_t(1); });
        ASSERT_TRUE(testsupport::waitFor([&] { return m.mixer.getVolume(0) == -66.0; }));
        EXPECT_EQ(m.mixer.getVolume(1), -66.0);
        EXPECT_EQ(m.mixer.getVolume(16), m.mixer.getVolume(0));
        EXPECT_EQ(m.mixer.getVolume(-1), m.mixer.getVolume(0));
        for (int slot = 2; slot < 16; ++slot)
            EXPECT_EQ(m.mixer.getVolume(slot), -200.0) << slot;
        const Recorder::Block last = m.recorder.blocks().back();
        EXPECT_EQ(last.pro_id, "51");
        EXPECT_EQ(last.win_id, "1");
        EXPECT_EQ(last.perChannel, 480);
        EXPECT_EQ(last.channels, 2);
        EXPECT_EQ(last.rate, 48000);
        EXPECT_EQ(last.samples, std::vector<int16_t>(960, 1));

        // Only windows with the NDI flag get the mix; the flag is exact.
        m.mixer.setNDIState("2", "ndi");
        m.mixer.setNDIState("2", "Ndi");
        m.mixer.setScreenState("2", 1);
        m.mixer.setScreenState("2", 0);
        EXPECT_EQ(m.mixer.windowFlags("2"), qMakePair(false, false));
        ASSERT_TRUE(m.sendsMore());
        for (const Recorder::Block& block : m.recorder.blocks())
            EXPECT_EQ(block.win_id, "1");
        feeder.stop();

        // A source that stops drops out; with none left nothing is sent.
        ASSERT_TRUE(testsupport::waitFor([&] { return m.mixer.getVolume(0) == -200.0; }));
        const size_t sent = m.recorder.count();
        ASSERT_TRUE(m.roundsPass());
        EXPECT_EQ(m.recorder.count(), sent);
    }

    // Digital silence is sent, and reads -200.
    Feeder silence(m.sink, [](long) { return int16_t(0); });
    ASSERT_TRUE(m.sendsMore(10));
    EXPECT_EQ(m.recorder.blocks().back().samples, std::vector<int16_t>(960, 0));
    EXPECT_EQ(m.mixer.getVolume(0), -200.0);
}

TEST(AudioOutputMixer, OpenedAgainItMixesFreshAudioWithoutAddedDelay)
{
    MixerWithSource m;
    // Each 10 ms block carries its own number: what is mixed tells its age.
    Feeder feeder(m.sink, [](long frame) { return int16_t((frame / 480) % 30000); });
    m.mixer.Open();
    ASSERT_TRUE(m.sendsMore(10));
    const auto lag = [&] { return feeder.blocks() - long(m.recorder.blocks().back().samples.front()); };
    EXPECT_LE(lag(), 12) << "60 ms primed plus scheduling";

    m.mixer.Close();
    EXPECT_FALSE(m.mixer.isOpen());
    const size_t sent = m.recorder.count();
    const long fed = feeder.blocks(); // 40 blocks pile up in the input meanwhile
    ASSERT_TRUE(testsupport::waitFor([&] { return feeder.blocks() >= fed + 40; }));
    EXPECT_EQ(m.recorder.count(), sent);
    m.mixer.Open();
    m.mixer.Open(); // a second Open does nothing
    EXPECT_EQ(m.mixer.openCount(), 2);
    ASSERT_TRUE(testsupport::waitFor([&] { return m.recorder.count() > sent; }));
    ASSERT_TRUE(m.sendsMore(5));
    EXPECT_LE(lag(), 12) << "audio buffered while closed must not stay as delay";
}

TEST(AudioOutputMixer, RoundsMissedDuringAStallRunBackToBack)
{
    // The mixing thread on a clock the test moves: each step shows exactly
    // which rounds became due.
    MixerWithSource m;
    std::atomic<int64_t> micros { 0 };
    const Clock::time_point origin = Clock::now();
    m.mixer.setClock([&] { return origin + std::chrono::microseconds(micros.load()); });
    m.mixer.Open();
    // The schedule starts from the thread's first reading, at 0.
    ASSERT_TRUE(testsupport::waitFor([&] { return m.mixer.waitCount() > 0; }));
    // Moves the clock to `ms` and waits until the thread has run the rounds
    // due by then and gone back to wait: the rounds mixed so far.
    const auto at = [&](int ms) {
        micros = int64_t(ms) * 1000;
        const long waits = m.mixer.waitCount();
        EXPECT_TRUE(testsupport::waitFor([&] { return m.mixer.waitCount() > waits + 1; })) << ms;
        return m.mixer.roundCount();
    };
    EXPECT_EQ(at(9), 0);
    EXPECT_EQ(at(10), 1);
    EXPECT_EQ(at(19), 1);
    EXPECT_EQ(at(20), 2);
    // A 35 ms stall: the three rounds due meanwhile run back to back...
    EXPECT_EQ(at(55), 5);
    // ...and the schedule itself did not move: the next is due at 60, not 65.
    EXPECT_EQ(at(59), 5);
    EXPECT_EQ(at(60), 6);
    EXPECT_EQ(at(300), 30);
    m.mixer.Close();
}

TEST(AudioOutputMixer, UsersOfASourceKeepItMixedUntilTheLastLeaves)
{
    testsupport::TempHome home;
    AudioOutputMixer mixer("pvw", 48000, 2, 16, 10);
    mixer.setProId("52");
    GlobalData* registry = GlobalData::instance();
    registry->setAudioMixType("52", "CamA", "always");
    EXPECT_FALSE(mixer.addAudioSource("", "CamA"));
    EXPECT_FALSE(mixer.addAudioSource("pos1", ""));
    EXPECT_TRUE(mixer.addAudioSource("pos1", "CamA"));
    EXPECT_TRUE(mixer.addAudioSource("pos2", "CamA"));
    EXPECT_TRUE(mixer.isMixed("CamA"));
    EXPECT_TRUE(registry->getAudioSink("52", "CamA", "pvw"));
    EXPECT_TRUE(mixer.removeAudioSource("pos1", "CamA"));
    EXPECT_TRUE(mixer.isMixed("CamA"));
    EXPECT_TRUE(mixer.removeAudioSource("pos2", "CamA"));
    EXPECT_FALSE(mixer.isMixed("CamA"));
    EXPECT_FALSE(registry->getAudioSink("52", "CamA", "pvw"));
    EXPECT_EQ(mixer.removeInputSource(""), -1);
    EXPECT_EQ(mixer.addInputSource(""), -1);

    // The video source: the same one again is no news, an empty one always is.
    QSignalSpy changed(&mixer, &AudioOutputMixer::videoSourceChanged);
    mixer.setVideoSource("CamA", "1", 1);
    mixer.setVideoSource("CamA", "1", 1);
    mixer.setVideoSource("", "1", 1);
    mixer.setVideoSource("", "1", 1);
    EXPECT_EQ(changed.count(), 3);
}

TEST(AudioOutputMixer, AFormatTheEngineCannotMixRunsSilently)
{
    MixerWithSource m(96000);
    ASSERT_TRUE(m.sink);
    Feeder feeder(m.sink, [](long) { return int16_t(1000); });
    m.mixer.Open();
    ASSERT_TRUE(m.roundsPass(10));
    EXPECT_EQ(m.recorder.count(), 0u);
    EXPECT_EQ(m.mixer.getVolume(0), -200.0);
    m.mixer.destroy();
    EXPECT_FALSE(m.mixer.isMixed("Mic"));
    EXPECT_FALSE(GlobalData::instance()->getAudioSink("51", "Mic", "pgm"));
}

TEST(AudioOutputMixer, SourcesComeAndGoWhileItMixes)
{
    MixerWithSource m;
    GlobalData* registry = GlobalData::instance();
    Feeder feeder(m.sink, [](long) { return int16_t(500); });
    m.mixer.Open();
    // Two threads add, remove and re-type sources while the mixing thread
    // runs and a third reads the levels; the engine's lock and race check
    // and the sanitizers watch.
    std::atomic<bool> go { true };
    const auto churn = [&](const QString& source) {
        registry->setAudioMixType("51", source, "always");
        while (go) {
            m.mixer.addInputSource(source);
            if (const auto input = registry->getAudioSink("51", source, "pgm")) {
                std::vector<int16_t> block(960, 100);
                for (int i = 0; i < 7; ++i)
                    input->Write(nullptr, reinterpret_cast<char*>(block.data()), 1920);
            }
            m.mixer.setVideoSource(source, "1", 1);
            m.mixer.removeInputSource(source);
        }
    };
    std::thread a(churn, QString("A")), b(churn, QString("B"));
    std::thread reader([&] {
        while (go)
            m.mixer.getVolume(0);
    });
    ASSERT_TRUE(m.roundsPass(30));
    go = false;
    a.join();
    b.join();
    reader.join();
    EXPECT_FALSE(m.mixer.isMixed("A"));
    EXPECT_TRUE(m.mixer.isMixed("Mic"));
    ASSERT_TRUE(m.sendsMore());
    EXPECT_EQ(m.recorder.blocks().back().samples, std::vector<int16_t>(960, 500));
}

// With no source a round has nothing to send or meter, so the thread sleeps
// instead of waking every 10 ms; a source wakes it, and it sleeps again
// once the last source left.
TEST(AudioOutputMixer, WithoutSourcesTheMixingThreadSleeps)
{
    testsupport::TempHome home;
    Recorder recorder;
    AudioOutputMixer mixer("pgm", 48000, 2, 16, 10);
    mixer.setProId("61");
    mixer.setNdiAudioSender(recorder.sender());
    mixer.setNDIState("1", "ndi");
    mixer.Open();
    // How often the thread went to wait again during an idle 300 ms, once it
    // is waiting: a thread woken every 10 ms would count 30.
    const auto waitsIn300Ms = [&] {
        EXPECT_TRUE(testsupport::waitFor([&] { return mixer.waitCount() > 0; }));
        const long before = mixer.waitCount();
        QTest::qWait(300);
        return mixer.waitCount() - before;
    };
    EXPECT_EQ(waitsIn300Ms(), 0);
    EXPECT_EQ(mixer.roundCount(), 0);

    GlobalData::instance()->setAudioMixType("61", "Mic", "always");
    mixer.addInputSource("Mic");
    const std::shared_ptr<AudioMixSink> sink = GlobalData::instance()->getAudioSink("61", "Mic", "pgm");
    ASSERT_TRUE(sink);
    Feeder feeder(sink, [](long) { return int16_t(1); });
    ASSERT_TRUE(testsupport::waitFor([&] { return mixer.getVolume(0) == -66.0; }));
    EXPECT_GT(recorder.count(), 0u);

    mixer.removeInputSource("Mic");
    ASSERT_TRUE(testsupport::waitFor([&] { return mixer.getVolume(0) == -200.0; }));
    const long rounds = mixer.roundCount();
    const size_t sent = recorder.count();
    EXPECT_LE(waitsIn300Ms(), 1) << "the levels read silent a moment before the thread waits";
    EXPECT_EQ(mixer.roundCount(), rounds);
    EXPECT_EQ(recorder.count(), sent);
    mixer.Close();
}

} // namespace
