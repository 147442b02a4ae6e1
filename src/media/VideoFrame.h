#pragma once
// A rendered window picture in packed UYVY 4:2:2, passed by shared pointer
// from the UYVY readback to the frame holders, the H.264 encoder, the network
// outputs and the render node, so no pixel is copied between threads.
//
// The pixels are not owned: they lie in a mapped pixel buffer of the
// window's readback pool. The frame holds a share of that pool slot, which
// keeps the slot mapped and reserved until the last holder of the frame lets
// go. Made and filled on the window's render thread; read-only afterwards.
// A mapped buffer lives no longer than the window's OpenGL context, so a
// frame that readers outside the window may keep beyond it (the bus
// holders') is a copy that owns its pixels (copyOf).
#include <cstdint>
#include <memory>

struct _PboImageAvailablePtr;

class VideoFrame {
public:
    VideoFrame() = default;
    VideoFrame(unsigned char* data, uint32_t width, uint32_t height, uint32_t size, uint32_t stride);
    // A frame with its own copy of the pixels, independent of any pool.
    static std::shared_ptr<VideoFrame> copyOf(const VideoFrame& other);

    unsigned char* data() const { return m_data; }
    uint32_t width() const { return m_width; }
    uint32_t height() const { return m_height; }
    // Bytes of picture data: stride x height.
    uint32_t size() const { return m_size; }
    // Bytes per line: 2 x width for UYVY.
    uint32_t stride() const { return m_stride; }

    void setFrameRate(int numerator, int denominator);
    int frameRateNumerator() const { return m_frameRateN; }
    int frameRateDenominator() const { return m_frameRateD; }
    // Whole frames per second; 0 while the denominator is below 1.
    int getFrameRate() const;

    // Takes a share of the slot the pixels live in and drops the one held before.
    void setBuffer(std::shared_ptr<_PboImageAvailablePtr> buffer);
    const std::shared_ptr<_PboImageAvailablePtr>& buffer() const { return m_buffer; }

private:
    unsigned char* m_data = nullptr;
    uint32_t m_width = 0;
    uint32_t m_height = 0;
    int m_frameRateN = 0;
    int m_frameRateD = 0;
    uint32_t m_size = 0;
    uint32_t m_stride = 0;
    std::shared_ptr<_PboImageAvailablePtr> m_buffer;
    std::unique_ptr<unsigned char[]> m_owned;
};
