#pragma once
// A current OpenGL 4.1 core context on an off-screen surface for the render
// tests, made on the test's thread; and the BT.709 limited-range conversions
// the tests compare pictures with.
#include "render/SurfaceSetup.h"

#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <QSurfaceFormat>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <memory>

namespace rendertest {

class GlContext {
public:
    GlContext()
    {
        context.setFormat(SurfaceSetup::applicationFormat());
        context.create();
        surface.setFormat(context.format());
        surface.create();
        context.makeCurrent(&surface);
    }
    ~GlContext() { context.doneCurrent(); }
    bool valid() const { return context.isValid() && QOpenGLContext::currentContext() == &context; }

    QOpenGLContext context;
    QOffscreenSurface surface;
};

struct Yuv {
    int y, u, v;
};

// r, g, b in 0..255.
inline Yuv toYuv(int r, int g, int b)
{
    const double R = r / 255.0, G = g / 255.0, B = b / 255.0;
    const auto code = [](double v) { return int(std::lround(std::clamp(v, 0.0, 1.0) * 255.0)); };
    return { code(0.183 * R + 0.614 * G + 0.062 * B + 0.0625), code(-0.101 * R - 0.339 * G + 0.439 * B + 0.5),
        code(0.439 * R - 0.399 * G - 0.040 * B + 0.5) };
}

struct Rgb {
    int r, g, b;
};

// BT.709 limited range back to RGB (0..255, clamped).
inline Rgb toRgb(int y, int u, int v)
{
    const double Y = (y - 16) * 255.0 / 219.0, U = (u - 128) * 255.0 / 224.0, V = (v - 128) * 255.0 / 224.0;
    const auto clamp = [](double x) { return int(std::lround(std::clamp(x, 0.0, 255.0))); };
    return { clamp(Y + 1.5748 * V), clamp(Y - 0.1873 * U - 0.4681 * V), clamp(Y + 1.8556 * U) };
}

// The UYVY macropixel holding pixel (x, y) of a picture with the given stride.
inline Yuv pixelAt(const uint8_t* data, int stride, int x, int y)
{
    const uint8_t* m = data + size_t(y) * stride + (x & ~1) * 2;
    return { m[(x & 1) ? 3 : 1], m[0], m[2] };
}

inline bool near(const Yuv& a, const Yuv& b, int tolerance = 2)
{
    return std::abs(a.y - b.y) <= tolerance && std::abs(a.u - b.u) <= tolerance && std::abs(a.v - b.v) <= tolerance;
}

} // namespace rendertest
