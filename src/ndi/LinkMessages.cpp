#include "LinkMessages.h"

#include "NdiWrapper.h"

#include <chrono>

namespace linkmsg {

int64_t now()
{
    using namespace std::chrono;
    return duration_cast<nanoseconds>(system_clock::now().time_since_epoch()).count() / 100;
}

LinkBufferPtr text(const std::string& text, int64_t timecode)
{
    const linkwire::Text head { timecode, 0 };
    auto buffer = std::make_shared<LinkBuffer>(sizeof head + text.size() + 1);
    buffer->setSize(buffer->capacity());
    std::memcpy(buffer->data(), &head, sizeof head);
    std::memcpy(buffer->data() + sizeof head, text.c_str(), text.size() + 1);
    return buffer;
}

bool readText(const LinkBuffer& payload, std::string& text, int64_t& timecode)
{
    linkwire::Text head;
    if (payload.size() < sizeof head + 1 || payload.data()[payload.size() - 1] != 0)
        return false;
    std::memcpy(&head, payload.data(), sizeof head);
    timecode = head.timecode;
    // Up to the first zero: a text with a zero inside ends there.
    text.assign(reinterpret_cast<const char*>(payload.data() + sizeof head));
    return true;
}

bool readVideo(const LinkBuffer& payload, linkwire::Video& r)
{
    if (payload.size() < sizeof r)
        return false;
    std::memcpy(&r, payload.data(), sizeof r);
    if (r.xres <= 0 || r.yres <= 0 || r.xres > linkwire::kMaxDimension || r.yres > linkwire::kMaxDimension)
        return false;
    if (r.fourcc != NDIlib_FourCC_video_type_UYVY || r.formatType < NDIlib_frame_format_type_interleaved
        || r.formatType > NDIlib_frame_format_type_field_1)
        return false;
    if (r.lineStride < r.xres * 2 || r.lineStride > r.xres * 2 + 4096)
        return false;
    return payload.size() == sizeof r + uint64_t(r.lineStride) * uint64_t(r.yres);
}

bool readAudio(const LinkBuffer& payload, linkwire::Audio& r, const int16_t*& samples)
{
    if (payload.size() < sizeof r)
        return false;
    std::memcpy(&r, payload.data(), sizeof r);
    if (r.sampleRate <= 0 || r.sampleRate > linkwire::kMaxSampleRate || r.channels <= 0
        || r.channels > linkwire::kMaxChannels || r.samples < 0)
        return false;
    if (payload.size() != sizeof r + uint64_t(r.samples) * uint64_t(r.channels) * sizeof(int16_t))
        return false;
    samples = reinterpret_cast<const int16_t*>(payload.data() + sizeof r);
    return true;
}

} // namespace linkmsg
