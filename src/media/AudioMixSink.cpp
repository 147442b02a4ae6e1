#include "AudioMixSink.h"

#include "audioMixer/RRingBuffer.h"
#include "audioMixer/audio_mixer/AudioMixSource.h"

#include <algorithm>

AudioMixSink::AudioMixSink(int id)
    : m_id(id)
{
}

AudioMixSink::~AudioMixSink() = default;

void AudioMixSink::SetMixSource(int sampleRate, int channels, int bitsPerSample, int frameMs)
{
    const long bytesPerMs = long(channels) * sampleRate * (bitsPerSample / 8) / 1000;
    const int capacity = int(std::clamp(bytesPerMs * frameMs * 160, 0L, 64L * 1024 * 1024));
    auto ring = std::make_shared<webrtc::RRingBuffer>(unsigned(capacity));
    // The gain argument 1 is carried for the engine source's owner only.
    auto source = std::make_shared<webrtc::AudioMixSource>(ring.get(), m_id, sampleRate, channels, 1, frameMs);
    std::lock_guard<std::mutex> lock(m_mutex);
    m_capacity = capacity;
    m_ring = std::move(ring);
    m_source = std::move(source);
}

int AudioMixSink::ringCapacity() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_capacity;
}

std::shared_ptr<webrtc::RRingBuffer> AudioMixSink::ring() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_ring;
}

std::shared_ptr<webrtc::AudioMixSource> AudioMixSink::mixSource() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_source;
}

int AudioMixSink::Open()
{
    m_open = true;
    return 1;
}

int AudioMixSink::Close()
{
    m_open = false;
    return 1;
}

int AudioMixSink::Write(timeval* /*timestamp*/, char* data, int len)
{
    if (!m_open)
        return -1;
    if (m_detached || !data || len <= 0)
        return len;
    const std::shared_ptr<webrtc::RRingBuffer> target = ring();
    if (target)
        target->pushData(data, unsigned(len));
    return len;
}

int AudioMixSink::Buffered() const
{
    const std::shared_ptr<webrtc::RRingBuffer> target = ring();
    return target ? int(target->getUsedSize()) : 0;
}

void AudioMixSink::setDetached(bool detached)
{
    m_detached = detached;
}

bool AudioMixSink::isDetached() const
{
    return m_detached;
}
