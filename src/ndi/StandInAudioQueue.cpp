#include "StandInAudioQueue.h"

#include <algorithm>
#include <cmath>
#include <cstring>

void StandInAudioQueue::clear()
{
    m_data.clear();
    m_read = 0;
    m_phase = 0.0;
}

void StandInAudioQueue::consume(int frames)
{
    m_read += std::min(frames, queuedFrames());
    // Compact once the consumed part dominates, so the vector stays small.
    if (m_read > 0 && size_t(m_read) * size_t(m_channels) * 2 >= m_data.size()) {
        m_data.erase(m_data.begin(), m_data.begin() + long(m_read) * m_channels);
        m_read = 0;
    }
}

void StandInAudioQueue::push(int sampleRate, int channels, const float* interleaved, int frames)
{
    if (sampleRate <= 0 || channels <= 0 || frames <= 0 || !interleaved)
        return;
    if (sampleRate != m_rate || channels != m_channels) {
        clear();
        m_rate = sampleRate;
        m_channels = channels;
    }
    m_data.insert(m_data.end(), interleaved, interleaved + size_t(frames) * size_t(channels));
    const int limit = int(std::lround(m_rate * kMaxQueued));
    if (queuedFrames() > limit) {
        consume(queuedFrames() - limit);
        m_phase = 0.0;
    }
}

float StandInAudioQueue::mapped(const float* frame, int outChannel, int outChannels) const
{
    if (outChannels == 1 && m_channels > 1) {
        float sum = 0.0f;
        for (int c = 0; c < m_channels; ++c)
            sum += frame[c];
        return sum / float(m_channels);
    }
    if (outChannel < m_channels)
        return frame[outChannel];
    return m_channels == 1 ? frame[0] : 0.0f;
}

bool StandInAudioQueue::capture(int sampleRate, int channels, int samples, float* planar)
{
    const int available = queuedFrames();
    if (available <= 0 || sampleRate <= 0 || channels <= 0 || samples <= 0 || !planar)
        return false;
    std::memset(planar, 0, sizeof(float) * size_t(channels) * size_t(samples));

    const float* base = m_data.data() + size_t(m_read) * size_t(m_channels);
    const double step = double(m_rate) / double(sampleRate);
    std::vector<float> frame(static_cast<size_t>(m_channels));
    int produced = 0;
    for (; produced < samples; ++produced) {
        const double pos = m_phase + produced * step;
        const int i0 = int(pos);
        const float frac = float(pos - i0);
        const float* a = base + size_t(i0) * size_t(m_channels);
        if (frac < 1e-6f) {
            if (i0 >= available)
                break;
            std::copy(a, a + m_channels, frame.begin());
        } else {
            if (i0 + 1 >= available)
                break;
            const float* b = a + m_channels;
            for (int c = 0; c < m_channels; ++c)
                frame[size_t(c)] = a[c] + (b[c] - a[c]) * frac;
        }
        for (int c = 0; c < channels; ++c)
            planar[size_t(c) * size_t(samples) + size_t(produced)] = mapped(frame.data(), c, channels);
    }

    if (produced < samples) {
        // Ran dry: what there was went out, the rest is silence.
        consume(available);
        m_phase = 0.0;
    } else {
        const double end = m_phase + samples * step;
        const int consumed = std::min(int(end), available);
        const double phase = end - consumed;
        consume(consumed);
        m_phase = phase;
        if (queuedFrames() > int(std::lround(m_rate * kTrimAbove)))
            consume(queuedFrames() - int(std::lround(m_rate * kTrimTo)));
    }
    return true;
}
