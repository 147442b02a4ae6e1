#pragma once
// Channel conversions of a frame in place. Both return 0 when done and -1
// when refused; a muted frame only changes its channel count.
namespace webrtc {

class AudioFrame;

class AudioFrameOperations {
public:
    // Mono to stereo: every sample goes to both channels. Refused unless the
    // frame is mono and the stereo result stays below the frame's capacity.
    static int MonoToStereo(AudioFrame* frame);
    // Stereo to mono: each pair becomes floor((left + right) / 2).
    static int StereoToMono(AudioFrame* frame);
};

} // namespace webrtc
