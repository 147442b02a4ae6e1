#pragma once
// The reduced picture a low-bandwidth receiver gets: half the width and half
// the height of a packed UYVY picture, each output sample the mean of the
// 2 x 2 input samples it covers (chroma likewise over its two macropixels).
#include <cstdint>

namespace uyvy {

struct Size {
    int width = 0;
    int height = 0;
};

// The reduced size (width kept even, as UYVY needs), or 0 x 0 when the
// picture is too small to reduce.
Size quarterSize(int width, int height);

// src: width x height pixels, srcStride bytes per line. dst: tightly packed
// lines of the reduced size.
void quarter(const uint8_t* src, int width, int height, int srcStride, uint8_t* dst);

} // namespace uyvy
