#include "AudioFrameManipulator.h"

#include "audioMixer/audio/AudioFrame.h"
#include "audioMixer/audio/AudioFrameOperations.h"

namespace webrtc {

uint64_t AudioMixerCalculateEnergy(const AudioFrame& frame)
{
    if (frame.muted())
        return 0;
    const int16_t* data = frame.data();
    uint64_t energy = 0;
    for (size_t i = 0; i < frame.samples(); ++i)
        energy += uint64_t(int64_t(data[i]) * data[i]);
    return energy;
}

void Ramp(float startGain, float targetGain, AudioFrame* frame)
{
    if (startGain == targetGain || frame->muted() || frame->samples_per_channel_ == 0)
        return;
    const float increment = (targetGain - startGain) / float(frame->samples_per_channel_);
    float gain = startGain;
    int16_t* data = frame->mutable_data();
    for (size_t i = 0; i < frame->samples_per_channel_; ++i) {
        for (size_t c = 0; c < frame->num_channels_; ++c) {
            int16_t& sample = data[i * frame->num_channels_ + c];
            sample = int16_t(gain * float(sample));
        }
        gain += increment;
    }
}

void RemixFrame(size_t channels, AudioFrame* frame)
{
    if (channels == 2 && frame->num_channels_ == 1)
        AudioFrameOperations::MonoToStereo(frame);
    else if (channels == 1 && frame->num_channels_ == 2)
        AudioFrameOperations::StereoToMono(frame);
}

} // namespace webrtc
