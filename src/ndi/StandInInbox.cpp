#include "StandInInbox.h"

#include <chrono>
#include <cstring>

void StandInInbox::push(std::string text, int64_t timecode)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_texts.size() >= kDepth)
            m_texts.pop_front();
        m_texts.emplace_back(std::move(text), timecode);
    }
    m_changed.notify_all();
}

void StandInInbox::markError()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_error = true;
    }
    m_changed.notify_all();
}

void StandInInbox::clear()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_texts.clear();
    m_error = false;
}

NDIlib_frame_type_e StandInInbox::take(NDIlib_metadata_frame_t* out, uint32_t timeoutMs)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    m_changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return m_error || !m_texts.empty(); });
    if (m_error) {
        m_error = false;
        return NDIlib_frame_type_error;
    }
    if (m_texts.empty())
        return NDIlib_frame_type_none;
    auto [text, timecode] = std::move(m_texts.front());
    m_texts.pop_front();
    lock.unlock();
    if (!out)
        return NDIlib_frame_type_metadata;
    char* data = new char[text.size() + 1];
    std::memcpy(data, text.c_str(), text.size() + 1);
    out->p_data = data;
    out->length = int32_t(text.size() + 1);
    out->timecode = timecode;
    return NDIlib_frame_type_metadata;
}

void StandInInbox::release(NDIlib_metadata_frame_t* frame)
{
    if (!frame)
        return;
    delete[] frame->p_data;
    frame->p_data = nullptr;
    frame->length = 0;
}
