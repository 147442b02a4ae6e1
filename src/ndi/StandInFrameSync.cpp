#include "StandInFrameSync.h"

#include "LinkWire.h"

#include <cstring>

void StandInFrameSync::captureVideo(NDIlib_video_frame_v2_t* frame)
{
    if (!frame)
        return;
    *frame = NDIlib_video_frame_v2_t {};
    frame->timecode = 0;
    LinkBufferPtr message = m_store->picture();
    if (!message)
        return;
    // The receiver checked the record against the message size on arrival.
    linkwire::Video record;
    std::memcpy(&record, message->data(), sizeof record);
    frame->xres = record.xres;
    frame->yres = record.yres;
    frame->FourCC = NDIlib_FourCC_video_type_e(record.fourcc);
    frame->frame_rate_N = record.frameRateN;
    frame->frame_rate_D = record.frameRateD;
    frame->picture_aspect_ratio = record.aspect;
    frame->frame_format_type = NDIlib_frame_format_type_e(record.formatType);
    frame->timecode = record.timecode;
    frame->timestamp = record.timestamp;
    frame->line_stride_in_bytes = record.lineStride;
    frame->p_data = message->data() + sizeof record;
    std::lock_guard<std::mutex> lock(m_mutex);
    m_lentVideo.emplace(frame->p_data, std::move(message));
}

void StandInFrameSync::freeVideo(NDIlib_video_frame_v2_t* frame)
{
    if (!frame || !frame->p_data)
        return;
    LinkBufferPtr released;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        auto it = m_lentVideo.find(frame->p_data);
        if (it == m_lentVideo.end())
            return;
        released = std::move(it->second);
        m_lentVideo.erase(it);
    }
    frame->p_data = nullptr;
}

void StandInFrameSync::captureAudio(NDIlib_audio_frame_v2_t* frame, int sampleRate, int channels, int samples)
{
    if (!frame)
        return;
    *frame = NDIlib_audio_frame_v2_t {};
    frame->sample_rate = sampleRate;
    frame->no_channels = channels;
    frame->no_samples = samples;
    frame->timecode = 0;
    if (sampleRate <= 0 || channels <= 0 || samples <= 0)
        return;
    std::unique_ptr<float[]> data(new float[size_t(channels) * size_t(samples)]);
    if (!m_store->captureAudio(sampleRate, channels, samples, data.get()))
        return;
    frame->p_data = data.get();
    frame->channel_stride_in_bytes = int(sizeof(float)) * samples;
    std::lock_guard<std::mutex> lock(m_mutex);
    m_lentAudio.emplace(frame->p_data, std::move(data));
}

void StandInFrameSync::freeAudio(NDIlib_audio_frame_v2_t* frame)
{
    if (!frame || !frame->p_data)
        return;
    std::unique_ptr<float[]> released;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        auto it = m_lentAudio.find(frame->p_data);
        if (it == m_lentAudio.end())
            return;
        released = std::move(it->second);
        m_lentAudio.erase(it);
    }
    frame->p_data = nullptr;
}

size_t StandInFrameSync::lentCount() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_lentVideo.size() + m_lentAudio.size();
}
