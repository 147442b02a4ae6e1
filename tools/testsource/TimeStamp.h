#pragma once
// A time code drawn into a picture, so that the moment a source sent the
// picture can be read back wherever the picture shows up, scaled into a tile
// and through a video codec: an 8 x 6 grid of large blocks, black for 0 and
// white for 1, holding the sender's steady clock in milliseconds (32 bits,
// the same clock in every process of this machine) and a 16-bit check, so a
// picture caught between two codes, or a tile that shows something else,
// reads as no code rather than a wrong one.
//
// Header only: the test-source program draws it, the benchmarks read it.
#include <chrono>
#include <cstdint>
#include <optional>

namespace timestamp {

// Where the grid lies, as fractions of the picture.
constexpr double kLeft = 0.1, kTop = 0.3, kRight = 0.9, kBottom = 0.9;
constexpr int kColumns = 8, kRows = 6;
constexpr int kBits = kColumns * kRows;

inline uint32_t nowMs()
{
    using namespace std::chrono;
    return uint32_t(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

inline uint64_t codeOf(uint32_t ms)
{
    const uint16_t check = uint16_t(~(ms ^ (ms >> 16)) ^ 0x5a3c);
    return uint64_t(ms) | (uint64_t(check) << 32);
}

// Calls block(x, y, w, h, on) for every block of a width x height picture.
template <typename Block> void draw(int width, int height, uint32_t ms, Block block)
{
    const uint64_t code = codeOf(ms);
    const double bw = (kRight - kLeft) * width / kColumns, bh = (kBottom - kTop) * height / kRows;
    for (int i = 0; i < kBits; ++i) {
        const int c = i % kColumns, r = i / kColumns;
        const int x = int(kLeft * width + c * bw), y = int(kTop * height + r * bh);
        block(x, y, int(kLeft * width + (c + 1) * bw) - x, int(kTop * height + (r + 1) * bh) - y, (code >> i) & 1);
    }
}

// Reads the code of a picture shown in the rectangle (x, y, w, h) of another
// one whose luma (0..255) at a pixel luma(px, py) gives; each block is judged
// by nine points around its centre. Empty when the blocks hold no valid code.
template <typename Luma> std::optional<uint32_t> read(double x, double y, double w, double h, Luma luma)
{
    const double bw = (kRight - kLeft) * w / kColumns, bh = (kBottom - kTop) * h / kRows;
    uint64_t code = 0;
    for (int i = 0; i < kBits; ++i) {
        const int column = i % kColumns, row = i / kColumns;
        const double cx = x + kLeft * w + (column + 0.5) * bw, cy = y + kTop * h + (row + 0.5) * bh;
        int sum = 0;
        for (int dy = -1; dy <= 1; ++dy) {
            for (int dx = -1; dx <= 1; ++dx)
                sum += luma(int(cx + dx * bw / 4), int(cy + dy * bh / 4));
        }
        // Midway between black (16) and white (235).
        if (sum > 9 * 126)
            code |= uint64_t(1) << i;
    }
    const uint32_t ms = uint32_t(code);
    if (codeOf(ms) != code)
        return std::nullopt;
    return ms;
}

} // namespace timestamp
