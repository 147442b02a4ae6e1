#include "media/AudioMixSink.h"

#include "audioMixer/RRingBuffer.h"
#include "audioMixer/audio/AudioFrame.h"
#include "audioMixer/audio_mixer/AudioMixSource.h"

#include <gtest/gtest.h>

#include <vector>

TEST(AudioMixSink, KeepsBytesOnlyWhileOpenAndAttachedAndFeedsItsEngineSource)
{
    AudioMixSink sink(7);
    sink.SetMixSource(48000, 2, 16, 10);
    EXPECT_EQ(sink.ringCapacity(), 307200); // 1.6 s of the mixers' format
    ASSERT_TRUE(sink.mixSource());
    EXPECT_EQ(sink.mixSource()->Ssrc(), 7);

    std::vector<int16_t> block(1920, 7);
    char* bytes = reinterpret_cast<char*>(block.data());
    EXPECT_EQ(sink.Write(nullptr, bytes, 3840), -1);
    sink.Open();
    EXPECT_EQ(sink.Write(nullptr, bytes, 3840), 3840);
    EXPECT_EQ(sink.Buffered(), 0); // detached: accepted and dropped
    sink.setDetached(false);
    for (int i = 0; i < 3; ++i) // 60 ms in 20 ms blocks, as a connection writes
        EXPECT_EQ(sink.Write(nullptr, bytes, 3840), 3840);
    EXPECT_EQ(sink.Buffered(), 3 * 3840);

    webrtc::AudioFrame frame;
    ASSERT_EQ(sink.mixSource()->PullAudioFrame(48000, &frame), webrtc::AudioMixer::Source::AudioFrameInfo::kNormal);
    EXPECT_EQ(frame.data()[0], 7);
    EXPECT_EQ(sink.Buffered(), 3 * 3840 - 1920);

    sink.Close();
    EXPECT_EQ(sink.Write(nullptr, bytes, 3840), -1);
}
