// The mixing engine's rules, one table: which sources a round picks, how a
// new source fades in, how frames are summed and fitted, and how the byte
// ring and the ring-fed source behave at their limits. Plus its lock under
// contention and the report of a broken precondition.
#include "audioMixer/RRingBuffer.h"
#include "audioMixer/audio/AudioFrame.h"
#include "audioMixer/audio/AudioFrameOperations.h"
#include "audioMixer/audio_mixer/AudioMixSource.h"
#include "audioMixer/audio_mixer/AudioMixerImpl.h"
#include "audioMixer/audio_mixer/AudioOutput.h"
#include "audioMixer/rtc_base/CriticalSection.h"

#include <gtest/gtest.h>

#include <functional>
#include <numeric>
#include <thread>
#include <vector>

namespace {

using webrtc::AudioFrame;
using Info = webrtc::AudioMixer::Source::AudioFrameInfo;
using Samples = std::vector<int16_t>;

constexpr size_t kPerChannel = 480; // 10 ms at 48 kHz

// Hands out the same 10 ms stereo frame every round.
class ConstantSource : public webrtc::AudioMixer::Source {
public:
    explicit ConstantSource(
        int16_t value, AudioFrame::VADActivity vad = AudioFrame::kVadUnknown, Info info = Info::kNormal)
        : samples(kPerChannel * 2, value)
        , vad(vad)
        , info(info)
    {
    }
    Info PullAudioFrame(int, AudioFrame* frame) override
    {
        if (info != Info::kError)
            frame->UpdateFrame(0, samples.data(), kPerChannel, 48000, AudioFrame::kNormalSpeech, vad, 2);
        return info;
    }
    int Ssrc() const override { return 0; }
    int PreferredSampleRate() const override { return 48000; }

    Samples samples;
    AudioFrame::VADActivity vad;
    Info info;
};

rtc::scoped_refptr<webrtc::AudioMixerImpl> makeMixer()
{
    return webrtc::AudioMixerImpl::Create(std::make_unique<webrtc::AudioOutput>(48000));
}

// One round; the stereo result, empty when nothing was mixed.
Samples mix(webrtc::AudioMixerImpl& mixer)
{
    AudioFrame out;
    if (!mixer.Mix(2, &out))
        return {};
    return Samples(out.data(), out.data() + out.samples());
}

struct Case {
    const char* name;
    std::function<void()> run;
};

TEST(MixingEngine, EdgeCases)
{
    const Case cases[] = {
        { "the three loudest of four are mixed, voice-active ones first",
            [] {
                // Alone each would pass unchanged, so the sum tells who was picked.
                ConstantSource loud(9000), active(100, AudioFrame::kVadActive), middle(3000), quiet(2000);
                auto mixer = makeMixer();
                for (ConstantSource* s : { &quiet, &middle, &loud, &active })
                    mixer->AddSource(s);
                mix(*mixer); // the fade-in round
                EXPECT_EQ(mix(*mixer), Samples(kPerChannel * 2, 9000 + 100 + 3000));
            } },
        { "a full-scale source is not lost to an energy overflow",
            [] {
                // 960 x 20000^2 exceeds 32 bits; wrapped it would rank below
                // the three quiet ones and drop out.
                ConstantSource full(20000), a(1600), b(1500), c(1400);
                auto mixer = makeMixer();
                for (ConstantSource* s : { &a, &b, &c, &full })
                    mixer->AddSource(s);
                mix(*mixer);
                EXPECT_EQ(mix(*mixer), Samples(kPerChannel * 2, 20000 + 1600 + 1500));
            } },
        { "muted and failing sources are not mixed; nothing to mix reports false",
            [] {
                ConstantSource muted(5000, AudioFrame::kVadUnknown, Info::kMuted),
                    failing(5000, AudioFrame::kVadUnknown, Info::kError);
                auto mixer = makeMixer();
                mixer->AddSource(&failing);
                EXPECT_TRUE(mix(*mixer).empty());
                mixer->AddSource(&muted);
                EXPECT_TRUE(mix(*mixer).empty());
            } },
        { "a new source fades in linearly over its first frame, then passes at full level",
            [] {
                ConstantSource source(10000);
                auto mixer = makeMixer();
                mixer->AddSource(&source);
                const Samples first = mix(*mixer);
                ASSERT_EQ(first.size(), kPerChannel * 2);
                for (size_t i = 0; i < kPerChannel; i += 60) {
                    const int expected = int(10000.0 * double(i) / kPerChannel);
                    EXPECT_NEAR(first[2 * i], expected, 2) << i;
                    EXPECT_EQ(first[2 * i], first[2 * i + 1]) << i;
                }
                EXPECT_EQ(mix(*mixer), Samples(kPerChannel * 2, 10000));
            } },
        { "one registered source is copied as it is; with two, one delivering passes the sum unchanged",
            [] {
                ConstantSource source(0), silent(0, AudioFrame::kVadUnknown, Info::kError);
                for (size_t i = 0; i < source.samples.size(); ++i)
                    source.samples[i] = int16_t(i % 2 ? -32768 : 32767 - int(i));
                auto mixer = makeMixer();
                mixer->AddSource(&source);
                mix(*mixer);
                EXPECT_EQ(mix(*mixer), source.samples);
                mixer->AddSource(&silent);
                EXPECT_EQ(mix(*mixer), source.samples);
            } },
        { "sums saturate at the 16-bit limits",
            [] {
                ConstantSource up1(32767), up2(32767);
                auto mixer = makeMixer();
                mixer->AddSource(&up1);
                mixer->AddSource(&up2);
                mix(*mixer);
                EXPECT_EQ(mix(*mixer), Samples(kPerChannel * 2, 32767));
                ConstantSource down1(-32768), down2(-32768);
                auto other = makeMixer();
                other->AddSource(&down1);
                other->AddSource(&down2);
                mix(*other);
                EXPECT_EQ(mix(*other), Samples(kPerChannel * 2, -32768));
            } },
        { "a removed source leaves the others in order",
            [] {
                ConstantSource a(100), b(200), c(400);
                auto mixer = makeMixer();
                for (ConstantSource* s : { &a, &b, &c })
                    mixer->AddSource(s);
                mix(*mixer);
                mixer->RemoveSource(&b);
                EXPECT_EQ(mixer->SourceCount(), 2u);
                EXPECT_EQ(mix(*mixer), Samples(kPerChannel * 2, 500));
            } },
        { "stereo (3, -4) becomes mono -1; mono s becomes (s, s); a muted frame only changes its count",
            [] {
                AudioFrame frame;
                const int16_t stereo[] = { 3, -4, 7, 9 };
                frame.UpdateFrame(0, stereo, 2, 48000, AudioFrame::kNormalSpeech, AudioFrame::kVadUnknown, 2);
                EXPECT_EQ(webrtc::AudioFrameOperations::StereoToMono(&frame), 0);
                EXPECT_EQ(frame.num_channels_, 1u);
                EXPECT_EQ(Samples(frame.data(), frame.data() + 2), Samples({ -1, 8 }));
                EXPECT_EQ(webrtc::AudioFrameOperations::MonoToStereo(&frame), 0);
                EXPECT_EQ(Samples(frame.data(), frame.data() + 4), Samples({ -1, -1, 8, 8 }));
                AudioFrame tooLong;
                tooLong.UpdateFrame(0, nullptr, 1920, 192000, AudioFrame::kNormalSpeech, AudioFrame::kVadUnknown, 1);
                EXPECT_EQ(webrtc::AudioFrameOperations::MonoToStereo(&tooLong), -1);
                AudioFrame muted;
                muted.UpdateFrame(0, nullptr, 480, 48000, AudioFrame::kNormalSpeech, AudioFrame::kVadUnknown, 1);
                EXPECT_EQ(webrtc::AudioFrameOperations::MonoToStereo(&muted), 0);
                EXPECT_TRUE(muted.muted());
                EXPECT_EQ(muted.num_channels_, 2u);
                EXPECT_EQ(muted.data()[0], 0);
            } },
        { "a ring of 10 bytes: 6 then 6 empties it and refuses the second block",
            [] {
                webrtc::RRingBuffer ring(10);
                const char bytes[6] = { 1, 2, 3, 4, 5, 6 };
                EXPECT_EQ(ring.pushData(bytes, 6), 1);
                EXPECT_EQ(ring.getFreeSize(), 4u);
                EXPECT_EQ(ring.pushData(bytes, 6), 0);
                EXPECT_EQ(ring.getUsedSize(), 0u);
                EXPECT_EQ(ring.getFreeSize(), 10u);
            } },
        { "popping exactly what is stored empties the ring, across the wrap; one more moves nothing",
            [] {
                webrtc::RRingBuffer ring(10);
                char out[10] = {};
                const char first[7] = { 1, 2, 3, 4, 5, 6, 7 }, second[8] = { 10, 11, 12, 13, 14, 15, 16, 17 };
                ASSERT_EQ(ring.pushData(first, 7), 1);
                ASSERT_EQ(ring.popData(out, sizeof out, 7), 1);
                ASSERT_EQ(ring.pushData(second, 8), 1); // wraps round the end of the storage
                EXPECT_EQ(ring.popData(out, 4, 8), 0); // destination too small
                EXPECT_EQ(ring.popData(out, sizeof out, 9), 0);
                EXPECT_EQ(ring.getUsedSize(), 8u);
                ASSERT_EQ(ring.popData(out, sizeof out, 8), 1);
                EXPECT_EQ(std::vector<char>(out, out + 8), std::vector<char>(second, second + 8));
                EXPECT_EQ(ring.getUsedSize(), 0u);
                EXPECT_EQ(ring.popData(out, sizeof out, 1), 0);
                EXPECT_EQ(ring.getUsedSize(), 0u);
            } },
        { "a ring-fed source waits for 60 ms, then takes 10 ms a round; dry, it repeats once and waits again",
            [] {
                webrtc::RRingBuffer ring(307200);
                webrtc::AudioMixSource source(&ring, 1, 48000, 2, 1, 10);
                AudioFrame frame;
                const auto push = [&](int16_t value) {
                    const Samples block(kPerChannel * 2, value);
                    ring.pushData(block.data(), unsigned(block.size() * 2));
                };
                for (int16_t v = 1; v <= 5; ++v)
                    push(v);
                EXPECT_EQ(ring.getUsedSize(), 9600u);
                EXPECT_EQ(source.PullAudioFrame(48000, &frame), Info::kError);
                push(6); // 11520 bytes: primed
                EXPECT_EQ(source.PullAudioFrame(48000, &frame), Info::kNormal);
                EXPECT_EQ(frame.data()[0], 1);
                EXPECT_EQ(frame.samples_per_channel_, kPerChannel);
                EXPECT_EQ(frame.num_channels_, 2u);
                EXPECT_EQ(ring.getUsedSize(), 9600u);
                for (int16_t v = 2; v <= 6; ++v) {
                    ASSERT_EQ(source.PullAudioFrame(48000, &frame), Info::kNormal);
                    EXPECT_EQ(frame.data()[0], v);
                }
                // Dry: the last block once more, then nothing until 60 ms are back.
                ASSERT_EQ(source.PullAudioFrame(48000, &frame), Info::kNormal);
                EXPECT_EQ(frame.data()[0], 6);
                push(7);
                EXPECT_EQ(source.PullAudioFrame(48000, &frame), Info::kError);
            } },
        { "a muted frame reads as zeros and writing un-mutes it from zero",
            [] {
                AudioFrame frame;
                const Samples ones(960, 1);
                frame.UpdateFrame(0, ones.data(), 480, 48000, AudioFrame::kNormalSpeech, AudioFrame::kVadUnknown, 2);
                frame.Mute();
                EXPECT_EQ(frame.data()[5], 0);
                frame.mutable_data()[0] = 9;
                EXPECT_FALSE(frame.muted());
                EXPECT_EQ(frame.data()[0], 9);
                EXPECT_EQ(frame.data()[5], 0);
            } },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        c.run();
    }
}

TEST(MixingEngine, LockIsRecursiveAndExclusiveUnderContention)
{
    rtc::CriticalSection lock;
    long counter = 0;
    std::vector<std::thread> threads;
    threads.reserve(4);
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 20000; ++i) {
                rtc::CritScope outer(&lock);
                rtc::CritScope inner(&lock);
                const long seen = counter;
                if (i % 1000 == 0)
                    std::this_thread::yield(); // hold it long enough for others to queue
                counter = seen + 1;
            }
        });
    }
    for (std::thread& t : threads)
        t.join();
    EXPECT_EQ(counter, 4 * 20000);
}

TEST(MixingEngineDeathTest, AddingASourceTwiceIsReportedAndAborts)
{
    ::testing::FLAGS_gtest_death_test_style = "threadsafe";
    ConstantSource source(1);
    auto mixer = makeMixer();
    mixer->AddSource(&source);
    EXPECT_DEATH(mixer->AddSource(&source),
        "# Fatal error in: .*AudioMixerImpl.cpp, line [0-9]+\n"
        "# last system error: [0-9]+\n"
        "# Check failed: .*\n# Source already added to mixer");
    mixer->RemoveSource(&source);
}

} // namespace
