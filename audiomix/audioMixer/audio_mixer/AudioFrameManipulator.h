#pragma once
// Per-frame helpers of the mixer: energy for ranking sources, gain ramps for
// fading a source in, and fitting a frame to the mix's channel count.
#include <cstddef>
#include <cstdint>

namespace webrtc {

class AudioFrame;

// Sum of the squares of every sample; 0 for a muted frame. 64 bits: a
// full-scale 10 ms stereo frame sums to about 2^40.
uint64_t AudioMixerCalculateEnergy(const AudioFrame& frame);

// Scales the frame from startGain at its first sample towards targetGain,
// one step per sample; nothing for equal gains or a muted frame.
void Ramp(float startGain, float targetGain, AudioFrame* frame);

// Mono to stereo or stereo to mono as `channels` asks; other counts unchanged.
void RemixFrame(size_t channels, AudioFrame* frame);

} // namespace webrtc
