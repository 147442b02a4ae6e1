#include "TestPicture.h"

#include <algorithm>
#include <cmath>
#include <string>

Yuv Yuv::fromRgb(double r, double g, double b)
{
    const double y = 0.2126 * r + 0.7152 * g + 0.0722 * b;
    const double u = (b - y) / 1.8556;
    const double v = (r - y) / 1.5748;
    auto byte = [](double x) { return uint8_t(std::lround(std::clamp(x, 0.0, 255.0))); };
    return { byte(16 + 219 * y), byte(128 + 224 * u), byte(128 + 224 * v) };
}

TestPicture::TestPicture(int width, int height)
    : m_width(width & ~1)
    , m_height(height)
    , m_pixels(size_t(m_width) * 2 * size_t(height))
{
}

void TestPicture::fill(const Yuv& colour)
{
    rect(0, 0, m_width, m_height, colour);
}

void TestPicture::rect(int x, int y, int w, int h, const Yuv& colour)
{
    const int x0 = std::max(0, x & ~1), y0 = std::max(0, y);
    const int x1 = std::min(m_width, (x + w) & ~1), y1 = std::min(m_height, y + h);
    for (int row = y0; row < y1; ++row) {
        uint8_t* p = m_pixels.data() + size_t(row) * size_t(stride()) + size_t(x0) * 2;
        for (int col = x0; col < x1; col += 2, p += 4) {
            p[0] = colour.u;
            p[1] = colour.y;
            p[2] = colour.v;
            p[3] = colour.y;
        }
    }
}

void TestPicture::number(int x, int y, unsigned value, int scale)
{
    // 3 x 5 dot digits, one row per 3 bits, top row first.
    static const uint16_t font[10] = {
        0b111101101101111,
        0b010110010010111,
        0b111001111100111,
        0b111001111001111,
        0b101101111001001,
        0b111100111001111,
        0b111100111101111,
        0b111001001001001,
        0b111101111101111,
        0b111101111001111,
    };
    const Yuv black { 16, 128, 128 }, white { 235, 128, 128 };
    const std::string digits = std::to_string(value);
    // Dots are drawn two pixels wide at least, to stay on whole macropixels.
    const int dot = std::max(2, scale & ~1);
    const int advance = 4 * dot;
    rect(x, y, int(digits.size()) * advance + dot, 7 * dot, black);
    for (size_t i = 0; i < digits.size(); ++i) {
        const uint16_t glyph = font[digits[i] - '0'];
        for (int row = 0; row < 5; ++row) {
            for (int col = 0; col < 3; ++col) {
                if (glyph & (1u << (14 - (row * 3 + col))))
                    rect(x + dot + int(i) * advance + col * dot, y + dot + row * dot, dot, dot, white);
            }
        }
    }
}
