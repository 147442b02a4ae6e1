#include "VideoFrame.h"

#include <cstring>

VideoFrame::VideoFrame(unsigned char* data, uint32_t width, uint32_t height, uint32_t size, uint32_t stride)
    : m_data(data)
    , m_width(width)
    , m_height(height)
    , m_size(size)
    , m_stride(stride)
{
}

std::shared_ptr<VideoFrame> VideoFrame::copyOf(const VideoFrame& other)
{
    auto copy = std::make_shared<VideoFrame>(nullptr, other.m_width, other.m_height, other.m_size, other.m_stride);
    if (other.m_data && other.m_size > 0) {
        copy->m_owned.reset(new unsigned char[other.m_size]);
        std::memcpy(copy->m_owned.get(), other.m_data, other.m_size);
        copy->m_data = copy->m_owned.get();
    }
    copy->setFrameRate(other.m_frameRateN, other.m_frameRateD);
    return copy;
}

void VideoFrame::setFrameRate(int numerator, int denominator)
{
    m_frameRateN = numerator;
    m_frameRateD = denominator;
}

int VideoFrame::getFrameRate() const
{
    return m_frameRateD < 1 ? 0 : m_frameRateN / m_frameRateD;
}

void VideoFrame::setBuffer(std::shared_ptr<_PboImageAvailablePtr> buffer)
{
    m_buffer = std::move(buffer);
}
