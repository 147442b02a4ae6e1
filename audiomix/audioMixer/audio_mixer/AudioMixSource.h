#pragma once
// webrtc::AudioMixSource: a mixer input that reads 10 ms frames from a byte
// ring of interleaved 16-bit PCM filled by another thread.
//
// It holds back until 60 ms are buffered (primed), so a writer that
// delivers in 20 ms blocks with some jitter never leaves the mixer short;
// when the ring runs dry it repeats its last frame once and waits to be
// primed again. The ring belongs to the owner (the program mixer's sink) and
// must outlive this source. PullAudioFrame runs on the mixing thread;
// ResetBuffering may be called while no mixing round runs.
#include "AudioMixer.h"

#include <atomic>
#include <cstdint>
#include <string>

namespace webrtc {

class RRingBuffer;

class AudioMixSource : public AudioMixer::Source {
public:
    static constexpr unsigned kBufferBytes = 8192;
    static constexpr int kPrimeFrames = 6; // 60 ms

    // gain is kept for the owner; the mixer does not apply it.
    AudioMixSource(RRingBuffer* ring, int ssrc, int sampleRate, int channels, int gain, int frameMs);

    AudioFrameInfo PullAudioFrame(int sampleRateHz, AudioFrame* frame) override;
    int Ssrc() const override { return ssrc_; }
    int PreferredSampleRate() const override { return sample_rate_; }

    void SetSample(int sampleRate) { sample_rate_ = sampleRate; }
    void SetChannel(int channels) { channels_ = channels; }
    void SetMixSourceName(const std::string& name) { name_ = name; }
    const std::string& MixSourceName() const { return name_; }
    void SetMixLimit(unsigned limit) { mix_limit_ = limit; }
    // Waits for 60 ms again before the next frame.
    void ResetBuffering() { primed_.store(false, std::memory_order_relaxed); }
    bool primed() const { return primed_.load(std::memory_order_relaxed); }

private:
    const int ssrc_;
    int sample_rate_;
    int channels_;
    const int frame_ms_;
    unsigned mix_limit_ = 0;
    std::string name_ = "mixer";
    RRingBuffer* const ring_;
    const float gain_;
    int16_t buffer_[kBufferBytes / sizeof(int16_t)] {};
    std::atomic<bool> primed_ { false };
};

} // namespace webrtc
