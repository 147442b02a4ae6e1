#pragma once
// Drawing into a packed UYVY picture (two pixels share one U and one V), in
// BT.709 limited range. Everything is drawn on even pixel columns so that no
// macropixel is split between two colours.
#include <cstdint>
#include <vector>

struct Yuv {
    uint8_t y, u, v;
    // r, g, b in 0..1.
    static Yuv fromRgb(double r, double g, double b);
};

class TestPicture {
public:
    TestPicture(int width, int height);

    int width() const { return m_width; }
    int height() const { return m_height; }
    int stride() const { return m_width * 2; }
    uint8_t* data() { return m_pixels.data(); }

    void fill(const Yuv& colour);
    // Clipped to the picture; x and w are rounded down to even.
    void rect(int x, int y, int w, int h, const Yuv& colour);
    // Decimal digits of value, scale pixels per font dot, on a black box.
    void number(int x, int y, unsigned value, int scale);

private:
    int m_width, m_height;
    std::vector<uint8_t> m_pixels;
};
