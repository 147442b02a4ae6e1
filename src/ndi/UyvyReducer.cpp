#include "UyvyReducer.h"

#include <cstddef>

namespace uyvy {

Size quarterSize(int width, int height)
{
    const int w = (width / 2) & ~1;
    const int h = height / 2;
    if (w < 2 || h < 1)
        return {};
    return { w, h };
}

void quarter(const uint8_t* src, int width, int height, int srcStride, uint8_t* dst)
{
    const Size out = quarterSize(width, height);
    const int macropixels = out.width / 2;
    for (int y = 0; y < out.height; ++y) {
        const uint8_t* a = src + size_t(2 * y) * size_t(srcStride);
        const uint8_t* b = a + srcStride;
        uint8_t* d = dst + size_t(y) * size_t(out.width) * 2;
        // One output macropixel (U Y0 V Y1) from two input macropixels
        // (U Y0 V Y1 U Y0 V Y1) on each of two lines.
        for (int m = 0; m < macropixels; ++m, a += 8, b += 8, d += 4) {
            d[0] = uint8_t((a[0] + a[4] + b[0] + b[4] + 2) / 4);
            d[1] = uint8_t((a[1] + a[3] + b[1] + b[3] + 2) / 4);
            d[2] = uint8_t((a[2] + a[6] + b[2] + b[6] + 2) / 4);
            d[3] = uint8_t((a[5] + a[7] + b[5] + b[7] + 2) / 4);
        }
    }
}

} // namespace uyvy
