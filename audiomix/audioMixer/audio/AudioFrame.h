#pragma once
// webrtc::AudioFrame: 10 ms of interleaved 16-bit PCM with its format, as the
// mixing engine takes it from its sources and hands the mix to its owner.
//
// A muted frame reads as zeros whatever its sample array holds; writing
// through mutable_data() un-mutes it (after zeroing). Plain value type, used
// by one thread at a time.
#include <cstddef>
#include <cstdint>

namespace webrtc {

class AudioFrame {
public:
    // 3840 samples: 20 ms of 96 kHz mono, 10 ms of 48 kHz at up to 8
    // channels, or 40 ms of 48 kHz stereo.
    static constexpr size_t kMaxDataSizeSamples = 3840;
    static constexpr size_t kMaxDataSizeBytes = kMaxDataSizeSamples * sizeof(int16_t);

    enum SpeechType { kNormalSpeech = 0, kPLC = 1, kCNG = 2, kPLCCNG = 3, kUndefined = 4 };
    enum VADActivity { kVadActive = 0, kVadPassive = 1, kVadUnknown = 2 };

    AudioFrame() = default;
    AudioFrame(const AudioFrame&) = delete;
    AudioFrame& operator=(const AudioFrame&) = delete;

    // Back to the constructed state (muted, no format).
    void Reset();
    // Takes samplesPerChannel x channels samples from data; null data mutes.
    // More than kMaxDataSizeSamples is a programming error.
    void UpdateFrame(uint32_t timestamp, const int16_t* data, size_t samplesPerChannel, int sampleRate,
        SpeechType speechType, VADActivity vadActivity, size_t channels);

    const int16_t* data() const;
    int16_t* mutable_data();
    void Mute() { muted_ = true; }
    bool muted() const { return muted_; }
    size_t samples() const { return samples_per_channel_ * num_channels_; }

    uint32_t timestamp_ = 0;
    int64_t elapsed_time_ms_ = -1;
    int64_t ntp_time_ms_ = -1;
    size_t samples_per_channel_ = 0;
    int sample_rate_hz_ = 0;
    size_t num_channels_ = 0;
    SpeechType speech_type_ = kUndefined;
    VADActivity vad_activity_ = kVadUnknown;
    int64_t profile_timestamp_ms_ = 0;

private:
    int16_t data_[kMaxDataSizeSamples] {};
    bool muted_ = true;
};

} // namespace webrtc
