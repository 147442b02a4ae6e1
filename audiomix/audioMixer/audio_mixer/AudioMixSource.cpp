#include "AudioMixSource.h"

#include "audioMixer/RRingBuffer.h"
#include "audioMixer/audio/AudioFrame.h"

namespace webrtc {

AudioMixSource::AudioMixSource(RRingBuffer* ring, int ssrc, int sampleRate, int channels, int gain, int frameMs)
    : ssrc_(ssrc)
    , sample_rate_(sampleRate)
    , channels_(channels)
    , frame_ms_(frameMs)
    , ring_(ring)
    , gain_(float(gain))
{
    (void)frame_ms_;
    (void)gain_;
}

AudioMixer::Source::AudioFrameInfo AudioMixSource::PullAudioFrame(int, AudioFrame* frame)
{
    if (!ring_)
        return AudioFrameInfo::kError;
    // Always a 10 ms frame at the source's own format.
    const int samplesPerChannel = sample_rate_ / 100;
    const long samples = long(samplesPerChannel) * channels_;
    const unsigned bytes = unsigned(samples) * sizeof(int16_t);
    if (samplesPerChannel <= 0 || channels_ <= 0 || bytes > kBufferBytes
        || size_t(samples) > AudioFrame::kMaxDataSizeSamples)
        return AudioFrameInfo::kError;
    if (!primed()) {
        if (ring_->getUsedSize() < bytes * kPrimeFrames)
            return AudioFrameInfo::kError;
        primed_.store(true, std::memory_order_relaxed);
    }
    // Short of a frame: hand out the last one once more and wait to be primed.
    if (!ring_->popData(buffer_, kBufferBytes, bytes))
        ResetBuffering();
    frame->UpdateFrame(0, buffer_, size_t(samplesPerChannel), sample_rate_, AudioFrame::kNormalSpeech,
        AudioFrame::kVadUnknown, size_t(channels_));
    return AudioFrameInfo::kNormal;
}

} // namespace webrtc
