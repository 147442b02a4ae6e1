#pragma once
// webrtc::FrameCombiner: sums the frames picked for one round into the
// output frame, rounding and saturating to 16 bits. With fewer than two
// sources registered in the mixer the one frame is copied unchanged.
#include <cstddef>
#include <vector>

namespace webrtc {

class AudioFrame;

class FrameCombiner {
public:
    // Accumulator size: 10 ms at up to 48 kHz, up to 2 channels.
    static constexpr size_t kMaxChannels = 2;
    static constexpr size_t kMaxSamplesPerChannel = 480;

    // streamCount: the number of sources registered in the mixer (not the
    // number of frames in the list). The frames are fitted to `channels`.
    void Combine(const std::vector<AudioFrame*>& mixList, size_t channels, int sampleRate, size_t streamCount,
        AudioFrame* out) const;
};

} // namespace webrtc
