// The UYVY converter on a known texture: colours within 2 code values, each
// pixel of a pair sampled at its own centre, frames in the pass that drew them with the
// window's stride and rate, the pool's limits, and a frame that outlives its
// converter keeping its pixels.
#include "GlTestContext.h"
#include "media/VideoFrame.h"
#include "render/PboConvertPool.h"
#include "render/PboRenderer.h"

#include <gtest/gtest.h>

#include <QOpenGLFunctions>

#include <vector>

namespace {

using rendertest::Yuv;

// An RGBA texture filled by colourAt(x, y) -> {r, g, b}, y counted from the
// top as in a rendered scene (whose first GL row is its bottom line).
class Texture {
public:
    template <typename F> Texture(int w, int h, F colourAt)
    {
        std::vector<uint8_t> pixels(size_t(w) * h * 4);
        for (int y = 0; y < h; ++y) {
            for (int x = 0; x < w; ++x) {
                const rendertest::Rgb c = colourAt(x, y);
                uint8_t* p = &pixels[(size_t(h - 1 - y) * w + x) * 4];
                p[0] = uint8_t(c.r);
                p[1] = uint8_t(c.g);
                p[2] = uint8_t(c.b);
                p[3] = 255;
            }
        }
        QOpenGLFunctions* f = QOpenGLContext::currentContext()->functions();
        f->glGenTextures(1, &id);
        f->glBindTexture(GL_TEXTURE_2D, id);
        f->glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
        f->glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, w, h, 0, GL_RGBA, GL_UNSIGNED_BYTE, pixels.data());
        f->glBindTexture(GL_TEXTURE_2D, 0);
    }
    ~Texture() { QOpenGLContext::currentContext()->functions()->glDeleteTextures(1, &id); }
    GLuint id = 0;
};

struct Converter {
    explicit Converter(QOpenGLContext* context)
    {
        pbo = std::make_unique<PboRenderer>();
        pbo->setId("7", "3");
        pbo->setContext(context);
    }
    std::shared_ptr<VideoFrame> convert(GLuint texture, QSize size, QSize dst = {}, double fps = 25.0)
    {
        if (!dst.isValid())
            dst = size;
        return pbo->convertRGB2YUV(1, size, dst, fps, texture);
    }
    std::unique_ptr<PboRenderer> pbo;
};

TEST(PboRenderer, FlatColoursComeOutAsBt709LimitedUyvy)
{
    rendertest::GlContext gl;
    ASSERT_TRUE(gl.valid());
    struct Case {
        const char* what;
        rendertest::Rgb rgb;
    };
    const std::vector<Case> cases { { "black", { 0, 0, 0 } }, { "white", { 255, 255, 255 } }, { "red", { 255, 0, 0 } },
        { "green", { 0, 255, 0 } }, { "blue", { 0, 0, 255 } }, { "grey", { 128, 128, 128 } },
        { "orange", { 240, 140, 20 } } };
    Converter converter(&gl.context);
    for (const Case& c : cases) {
        Texture texture(64, 16, [&](int, int) { return c.rgb; });
        auto frame = converter.convert(texture.id, { 64, 16 });
        ASSERT_TRUE(frame) << c.what;
        const Yuv want = rendertest::toYuv(c.rgb.r, c.rgb.g, c.rgb.b);
        for (int x : { 0, 1, 31, 62, 63 }) {
            for (int y : { 0, 15 }) {
                const Yuv got = rendertest::pixelAt(frame->data(), int(frame->stride()), x, y);
                EXPECT_TRUE(rendertest::near(got, want))
                    << c.what << " at " << x << "," << y << ": " << got.y << " " << got.u << " " << got.v << " want "
                    << want.y << " " << want.u << " " << want.v;
            }
        }
    }
}

TEST(PboRenderer, EachPixelOfAPairIsSampledAtItsOwnCentre)
{
    rendertest::GlContext gl;
    ASSERT_TRUE(gl.valid());
    // Columns alternate white and black, and the top half differs from the
    // bottom: averaging neighbours would give grey, a flipped picture the
    // wrong half.
    Texture texture(32, 8, [](int x, int y) {
        if (y < 4)
            return (x % 2 == 0) ? rendertest::Rgb { 255, 255, 255 } : rendertest::Rgb { 0, 0, 0 };
        return (x % 2 == 0) ? rendertest::Rgb { 0, 0, 0 } : rendertest::Rgb { 255, 0, 0 };
    });
    Converter converter(&gl.context);
    auto frame = converter.convert(texture.id, { 32, 8 });
    ASSERT_TRUE(frame);
    const Yuv white = rendertest::toYuv(255, 255, 255), black = rendertest::toYuv(0, 0, 0),
              red = rendertest::toYuv(255, 0, 0);
    for (int x = 0; x < 32; x += 2) {
        const uint8_t* top = frame->data() + x * 2;
        EXPECT_NEAR(top[1], white.y, 2) << x;
        EXPECT_NEAR(top[3], black.y, 2) << x;
        const uint8_t* bottom = frame->data() + 7 * frame->stride() + x * 2;
        EXPECT_NEAR(bottom[1], black.y, 2) << x;
        EXPECT_NEAR(bottom[3], red.y, 2) << x;
    }
}

TEST(PboRenderer, FramesComeInThePassThatDrewThemWithTheirSizeStrideAndRate)
{
    rendertest::GlContext gl;
    ASSERT_TRUE(gl.valid());
    Texture texture(1920, 1080, [](int, int) { return rendertest::Rgb { 0, 0, 255 }; });
    PboRenderer pbo;
    pbo.setId("1", "2");
    pbo.setContext(&gl.context);
    auto frame = pbo.convertRGB2YUV(1, { 1920, 1080 }, { 1920, 1080 }, 59.94, texture.id);
    ASSERT_TRUE(frame) << "first pass";
    EXPECT_EQ(frame->width(), 1920u);
    EXPECT_EQ(frame->height(), 1080u);
    EXPECT_EQ(frame->stride(), 3840u);
    EXPECT_EQ(frame->size(), 4147200u);
    EXPECT_EQ(frame->frameRateNumerator(), 59940);
    EXPECT_EQ(frame->frameRateDenominator(), 1000);

    // A size change gives a frame of the new size in the same pass (the
    // H.264 size of a 1366 x 768 window), and the last picture repeated is
    // that one.
    auto scaled = pbo.convertRGB2YUV(1, { 1920, 1080 }, { 1280, 718 }, 25, texture.id);
    ASSERT_TRUE(scaled);
    EXPECT_EQ(scaled->width(), 1280u);
    EXPECT_EQ(scaled->height(), 718u);
    EXPECT_TRUE(rendertest::near(rendertest::pixelAt(scaled->data(), 2560, 639, 400), rendertest::toYuv(0, 0, 255)));
    EXPECT_EQ(pbo.repeatLast(1, { 1280, 718 }), scaled);
    EXPECT_FALSE(pbo.repeatLast(1, { 1920, 1080 })) << "no picture of the old size is repeated";

    // Bad input converts nothing.
    EXPECT_FALSE(pbo.convertRGB2YUV(1, { 0, 1080 }, { 1920, 1080 }, 25, texture.id));
    EXPECT_FALSE(pbo.convertRGB2YUV(1, { 1920, 1080 }, { 0, 0 }, 25, texture.id));
    EXPECT_FALSE(pbo.convertRGB2YUV(1, { 1920, 1080 }, { 1920, 1080 }, 25, 0));
}

TEST(PboRenderer, AtMostFiveFramesOfAPathAreOutAndAHeldFrameOutlivesItsPool)
{
    rendertest::GlContext gl;
    ASSERT_TRUE(gl.valid());
    Texture texture(64, 32, [](int, int) { return rendertest::Rgb { 0, 255, 0 }; });
    auto pbo = std::make_unique<PboRenderer>();
    pbo->setId("1", "5");
    pbo->setContext(&gl.context);
    std::vector<std::shared_ptr<VideoFrame>> held;
    for (int pass = 0; pass < 10; ++pass) {
        if (auto frame = pbo->convertRGB2YUV(0, { 64, 32 }, { 64, 32 }, 25, texture.id))
            held.push_back(frame);
    }
    // Five buffers; the converter keeps the last picture, which is one of them.
    EXPECT_EQ(held.size(), 5u);
    held.erase(held.begin());
    EXPECT_TRUE(pbo->convertRGB2YUV(0, { 64, 32 }, { 64, 32 }, 25, texture.id)) << "a released slot is reused";

    // The converter (and its pools) go while frames still hold slots: the
    // pixels stay mapped and readable.
    pbo.reset();
    const Yuv green = rendertest::toYuv(0, 255, 0);
    for (const auto& frame : held)
        EXPECT_TRUE(rendertest::near(rendertest::pixelAt(frame->data(), 128, 10, 10), green));
    held.clear();
}

TEST(PboConvertPool, HandsOutFiveSlotsAndReallocatesOnSizeChange)
{
    rendertest::GlContext gl;
    ASSERT_TRUE(gl.valid());
    PboConvertPool pool("test");
    std::vector<std::shared_ptr<_PboImageAvailablePtr>> taken;
    for (int i = 0; i < 5; ++i) {
        taken.push_back(pool.getPboImageAvailablePtr(1024));
        ASSERT_TRUE(taken.back()) << i;
        EXPECT_EQ(taken.back()->size, 1024);
    }
    EXPECT_FALSE(pool.getPboImageAvailablePtr(1024));
    EXPECT_EQ(pool.getUnavailableSize(), 5);
    taken.pop_back();
    auto again = pool.getPboImageAvailablePtr(2048);
    ASSERT_TRUE(again);
    EXPECT_EQ(again->size, 2048);
    EXPECT_EQ(pool.getUnavailableSize(), 5);
}

} // namespace
