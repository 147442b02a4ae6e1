#include "FrameCombiner.h"

#include "AudioFrameManipulator.h"
#include "audioMixer/audio/AudioFrame.h"
#include "audioMixer/rtc_base/Checks.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace webrtc {

namespace {

int16_t roundAndSaturate(float value)
{
    if (value > 0.0f)
        return value >= 32766.5f ? int16_t(32767) : int16_t(std::lround(value));
    return value <= -32767.5f ? int16_t(-32768) : int16_t(std::lround(value));
}

} // namespace

void FrameCombiner::Combine(
    const std::vector<AudioFrame*>& mixList, size_t channels, int sampleRate, size_t streamCount, AudioFrame* out) const
{
    RTC_CHECK_MSG(out, "audio_frame_for_mixing");
    const size_t samples = size_t(std::max(0, sampleRate / 100));
    RTC_CHECK_LE(samples, kMaxSamplesPerChannel);
    RTC_CHECK_LE(channels, kMaxChannels);
    out->UpdateFrame(0, nullptr, samples, sampleRate, AudioFrame::kUndefined, AudioFrame::kVadUnknown, channels);
    if (mixList.size() == 1) {
        out->timestamp_ = mixList.front()->timestamp_;
        out->elapsed_time_ms_ = mixList.front()->elapsed_time_ms_;
    } else if (mixList.empty()) {
        out->elapsed_time_ms_ = -1;
    }
    for (AudioFrame* frame : mixList)
        RemixFrame(channels, frame);

    if (streamCount < 2) {
        if (mixList.empty())
            return;
        const AudioFrame& only = *mixList.front();
        std::memcpy(out->mutable_data(), only.data(), only.samples() * sizeof(int16_t));
        return;
    }

    float accumulator[kMaxChannels][kMaxSamplesPerChannel] = {};
    for (const AudioFrame* frame : mixList) {
        const int16_t* data = frame->data();
        const size_t available = frame->samples();
        for (size_t c = 0; c < channels; ++c) {
            for (size_t i = 0; i < samples && i * channels + c < available; ++i)
                accumulator[c][i] += float(data[i * channels + c]);
        }
    }
    int16_t* mixed = out->mutable_data();
    for (size_t c = 0; c < channels; ++c) {
        for (size_t i = 0; i < samples; ++i)
            mixed[i * channels + c] = roundAndSaturate(accumulator[c][i]);
    }
}

} // namespace webrtc
