#include "AudioFrame.h"

#include "audioMixer/rtc_base/Checks.h"

#include <cstring>

namespace webrtc {

namespace {

// What a muted frame reads as: one shared buffer of zeros.
const int16_t* zeroBuffer()
{
    static const int16_t zeros[AudioFrame::kMaxDataSizeSamples] = {};
    return zeros;
}

} // namespace

void AudioFrame::Reset()
{
    timestamp_ = 0;
    elapsed_time_ms_ = -1;
    ntp_time_ms_ = -1;
    samples_per_channel_ = 0;
    sample_rate_hz_ = 0;
    num_channels_ = 0;
    speech_type_ = kUndefined;
    vad_activity_ = kVadUnknown;
    profile_timestamp_ms_ = 0;
    muted_ = true;
}

void AudioFrame::UpdateFrame(uint32_t timestamp, const int16_t* data, size_t samplesPerChannel, int sampleRate,
    SpeechType speechType, VADActivity vadActivity, size_t channels)
{
    timestamp_ = timestamp;
    samples_per_channel_ = samplesPerChannel;
    sample_rate_hz_ = sampleRate;
    speech_type_ = speechType;
    vad_activity_ = vadActivity;
    num_channels_ = channels;
    const size_t length = samplesPerChannel * channels;
    RTC_CHECK_LE(length, kMaxDataSizeSamples);
    if (data) {
        std::memcpy(data_, data, length * sizeof(int16_t));
        muted_ = false;
    } else {
        muted_ = true;
    }
}

const int16_t* AudioFrame::data() const
{
    return muted_ ? zeroBuffer() : data_;
}

int16_t* AudioFrame::mutable_data()
{
    if (muted_) {
        std::memset(data_, 0, kMaxDataSizeBytes);
        muted_ = false;
    }
    return data_;
}

} // namespace webrtc
