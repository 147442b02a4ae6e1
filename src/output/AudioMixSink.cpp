#include "AudioMixSink.h"

#include <algorithm>
#include <cstring>

AudioMixSink::AudioMixSink(int id)
    : m_id(id)
{
}

AudioMixSink::~AudioMixSink() = default;

void AudioMixSink::SetMixSource(int sampleRate, int channels, int bitsPerSample, int frameMs)
{
    const long bytesPerMs = long(channels) * sampleRate * (bitsPerSample / 8) / 1000;
    const long capacity = std::max(0L, bytesPerMs * frameMs * 160);
    std::lock_guard<std::mutex> lock(m_mutex);
    m_ring.assign(size_t(capacity), 0);
    m_head = 0;
    m_size = 0;
}

int AudioMixSink::ringCapacity() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return int(m_ring.size());
}

int AudioMixSink::Open()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_open = true;
    return 1;
}

int AudioMixSink::Close()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_open = false;
    return 1;
}

int AudioMixSink::Write(timeval* /*timestamp*/, char* data, int len)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_open)
        return -1;
    if (m_detached || m_ring.empty() || !data || len <= 0)
        return len;
    const size_t n = size_t(len);
    if (n > m_ring.size() - m_size) {
        m_head = 0;
        m_size = 0;
        return len;
    }
    size_t tail = (m_head + m_size) % m_ring.size();
    const size_t first = std::min(n, m_ring.size() - tail);
    std::memcpy(m_ring.data() + tail, data, first);
    std::memcpy(m_ring.data(), data + first, n - first);
    m_size += n;
    return len;
}

bool AudioMixSink::Read(char* dest, int len)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (len < 0 || size_t(len) > m_size)
        return false;
    const size_t n = size_t(len);
    if (n == 0)
        return true;
    const size_t first = std::min(n, m_ring.size() - m_head);
    std::memcpy(dest, m_ring.data() + m_head, first);
    std::memcpy(dest + first, m_ring.data(), n - first);
    m_head = (m_head + n) % m_ring.size();
    m_size -= n;
    return true;
}

int AudioMixSink::Buffered() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return int(m_size);
}

void AudioMixSink::setDetached(bool detached)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_detached = detached;
}

bool AudioMixSink::isDetached() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_detached;
}
