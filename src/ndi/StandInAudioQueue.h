#pragma once
// The sound a stand-in receiver has received and not yet handed out, and the
// conversion to whatever rate, channel count and block size the caller asks
// for. Sound is kept as interleaved float at the sender's rate and channel
// count; a change of either starts the queue afresh.
//
// Latency stays bounded: beyond kMaxQueued the oldest sound is dropped, and a
// queue still holding more than kTrimAbove after a capture is cut back to
// kTrimTo, so a consumer that starts late or stalls does not keep an
// ever-growing delay. Resampling is linear interpolation with the fractional
// position carried across captures, so consecutive blocks join without gaps.
//
// Not thread-safe: its owner (StandInMediaStore) locks around it.
#include <cstddef>
#include <vector>

class StandInAudioQueue {
public:
    static constexpr double kMaxQueued = 0.2; // seconds
    static constexpr double kTrimAbove = 0.1;
    static constexpr double kTrimTo = 0.04;

    void push(int sampleRate, int channels, const float* interleaved, int frames);
    // Fills `planar` (channels blocks of samples floats) with exactly the
    // requested shape. False, with nothing written, when nothing is queued.
    // Too little sound is padded with silence at the end.
    bool capture(int sampleRate, int channels, int samples, float* planar);
    void clear();
    int queuedFrames() const { return int(m_data.size() / size_t(m_channels ? m_channels : 1)) - m_read; }

private:
    void consume(int frames);
    float mapped(const float* frame, int outChannel, int outChannels) const;

    int m_rate = 0;
    int m_channels = 0;
    std::vector<float> m_data; // interleaved frames; those before m_read are consumed
    int m_read = 0;
    double m_phase = 0.0; // fractional source position of the next output sample
};
