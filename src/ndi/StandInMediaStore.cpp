#include "StandInMediaStore.h"

void StandInMediaStore::setPicture(LinkBufferPtr message)
{
    LinkBufferPtr previous;
    std::lock_guard<std::mutex> lock(m_mutex);
    // The replaced picture is released after the lock, outside the hot path of readers.
    previous = std::move(m_picture);
    m_picture = std::move(message);
}

LinkBufferPtr StandInMediaStore::picture() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_picture;
}

void StandInMediaStore::pushAudio(int sampleRate, int channels, const float* interleaved, int frames)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_audio.push(sampleRate, channels, interleaved, frames);
}

bool StandInMediaStore::captureAudio(int sampleRate, int channels, int samples, float* planar)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_audio.capture(sampleRate, channels, samples, planar);
}

void StandInMediaStore::clear()
{
    LinkBufferPtr previous;
    std::lock_guard<std::mutex> lock(m_mutex);
    previous = std::move(m_picture);
    m_audio.clear();
}
