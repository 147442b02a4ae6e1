#include "NdiAudioConvert.h"

#include <cmath>

namespace ndiaudio {

float fullScale(int referenceLevel)
{
    return float(std::pow(10.0, referenceLevel / 20.0));
}

void toFloat(const int16_t* in, size_t count, int referenceLevel, float* out)
{
    const float scale = fullScale(referenceLevel) / 32768.0f;
    for (size_t i = 0; i < count; ++i)
        out[i] = float(in[i]) * scale;
}

int16_t toS16(float value, float scale)
{
    const float v = std::nearbyint(value * scale);
    if (std::isnan(v))
        return 0;
    if (v <= -32768.0f)
        return -32768;
    if (v >= 32767.0f)
        return 32767;
    return int16_t(v);
}

namespace {

bool planarUsable(const NDIlib_audio_frame_v2_t& src)
{
    return src.p_data && src.no_channels > 0 && src.no_samples > 0
        && src.channel_stride_in_bytes >= int(src.no_samples * sizeof(float));
}

const float* channel(const NDIlib_audio_frame_v2_t& src, int c)
{
    return reinterpret_cast<const float*>(
        reinterpret_cast<const uint8_t*>(src.p_data) + size_t(c) * size_t(src.channel_stride_in_bytes));
}

// Copies the shape and interleaves the samples, each through convert.
template <typename Interleaved, typename Convert>
void interleave(const NDIlib_audio_frame_v2_t& src, Interleaved& dst, Convert convert)
{
    dst.sample_rate = src.sample_rate;
    dst.no_channels = src.no_channels;
    dst.no_samples = src.no_samples;
    dst.timecode = src.timecode;
    if (!planarUsable(src) || !dst.p_data)
        return;
    for (int c = 0; c < src.no_channels; ++c) {
        const float* in = channel(src, c);
        for (int s = 0; s < src.no_samples; ++s)
            dst.p_data[size_t(s) * size_t(src.no_channels) + size_t(c)] = convert(in[s]);
    }
}

} // namespace

void planarToInterleaved32f(const NDIlib_audio_frame_v2_t& src, NDIlib_audio_frame_interleaved_32f_t& dst)
{
    interleave(src, dst, [](float v) { return v; });
}

void planarToInterleaved16s(const NDIlib_audio_frame_v2_t& src, NDIlib_audio_frame_interleaved_16s_t& dst)
{
    const float scale = 32768.0f / fullScale(dst.reference_level);
    interleave(src, dst, [scale](float v) { return toS16(v, scale); });
}

} // namespace ndiaudio
