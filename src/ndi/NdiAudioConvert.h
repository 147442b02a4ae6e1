#pragma once
// Sample conversions shared by the audio helpers of the interface and the
// stand-in's receiving side. The level convention is the one stated in
// NdiWrapper.h: a 16-bit sample s at reference level L dB is the float
// s / 32768 * 10^(L/20).
#include "NdiWrapper.h"

#include <cstddef>
#include <cstdint>

namespace ndiaudio {

// Float value of 16-bit full scale at a reference level.
float fullScale(int referenceLevel);
void toFloat(const int16_t* in, size_t count, int referenceLevel, float* out);
// Rounds and clips to the 16-bit range.
int16_t toS16(float value, float scale);

void planarToInterleaved32f(const NDIlib_audio_frame_v2_t& src, NDIlib_audio_frame_interleaved_32f_t& dst);
void planarToInterleaved16s(const NDIlib_audio_frame_v2_t& src, NDIlib_audio_frame_interleaved_16s_t& dst);

} // namespace ndiaudio
