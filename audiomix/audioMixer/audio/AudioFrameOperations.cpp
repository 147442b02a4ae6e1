#include "AudioFrameOperations.h"

#include "AudioFrame.h"

namespace webrtc {

int AudioFrameOperations::MonoToStereo(AudioFrame* frame)
{
    if (frame->num_channels_ != 1 || frame->samples_per_channel_ * 2 >= AudioFrame::kMaxDataSizeSamples)
        return -1;
    if (!frame->muted()) {
        int16_t* data = frame->mutable_data();
        // Back to front, so no sample is overwritten before it is read.
        for (size_t i = frame->samples_per_channel_; i-- > 0;) {
            data[2 * i] = data[i];
            data[2 * i + 1] = data[i];
        }
    }
    frame->num_channels_ = 2;
    return 0;
}

int AudioFrameOperations::StereoToMono(AudioFrame* frame)
{
    if (frame->num_channels_ != 2)
        return -1;
    if (!frame->muted()) {
        int16_t* data = frame->mutable_data();
        for (size_t i = 0; i < frame->samples_per_channel_; ++i)
            data[i] = int16_t((int(data[2 * i]) + int(data[2 * i + 1])) >> 1);
    }
    frame->num_channels_ = 1;
    return 0;
}

} // namespace webrtc
