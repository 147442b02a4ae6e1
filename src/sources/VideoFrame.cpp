#include "VideoFrame.h"

VideoFrame::VideoFrame(unsigned char* data, uint32_t width, uint32_t height, uint32_t size, uint32_t stride)
    : m_data(data)
    , m_width(width)
    , m_height(height)
    , m_size(size)
    , m_stride(stride)
{
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
