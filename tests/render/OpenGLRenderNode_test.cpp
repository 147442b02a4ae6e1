// The tile's render node drawn off screen and read back: pictures of every
// awkward shape drawn whole and fitted with black bars, the overlay lines in
// the tile's own rectangle, transitions that always write every pixel, and
// the node's OpenGL manners in a core profile (its own vertex array, unit 0
// left active, no errors, its textures deleted with it), and tiles of one
// window sharing the texture of the frame they both show.
#include "SceneHarness.h"
#include "media/VideoFrame.h"
#include "render/DrawnTiles.h"
#include "render/OpenGLRenderNode.h"

#include <gtest/gtest.h>

#include <QOpenGLExtraFunctions>

#include <functional>

using scene::OffscreenScene;
using scene::Uyvy;

namespace {

const QColor kRed(255, 0, 0), kBlue(0, 0, 255), kGreen(0, 255, 0), kBlack(0, 0, 0), kWhite(255, 255, 255);

// What the node left behind after its render, as the scene graph finds it.
struct GlReport {
    GLenum error = GL_NO_ERROR;
    GLint vaoAfter = -1;
    GLint sentinelVao = 0;
    GLint activeTexture = 0;
    GLint textureUnit0 = 0;
    GLint textureUnit1 = 0;
};

class ProbeNode : public OpenGLRenderNode {
public:
    ProbeNode(std::shared_ptr<RenderNodeInput> input, GlReport* report)
        : OpenGLRenderNode(std::move(input))
        , m_report(report)
    {
    }
    void render(const RenderState* state) override
    {
        QOpenGLExtraFunctions* f = QOpenGLContext::currentContext()->extraFunctions();
        GLint before = 0;
        f->glGetIntegerv(GL_VERTEX_ARRAY_BINDING, &before);
        while (f->glGetError() != GL_NO_ERROR) { }
        OpenGLRenderNode::render(state);
        m_report->error = f->glGetError();
        m_report->sentinelVao = before;
        f->glGetIntegerv(GL_VERTEX_ARRAY_BINDING, &m_report->vaoAfter);
        f->glGetIntegerv(GL_ACTIVE_TEXTURE, &m_report->activeTexture);
        f->glGetIntegerv(GL_TEXTURE_BINDING_2D, &m_report->textureUnit0);
        f->glActiveTexture(GL_TEXTURE1);
        f->glGetIntegerv(GL_TEXTURE_BINDING_2D, &m_report->textureUnit1);
        f->glActiveTexture(GL_TEXTURE0);
    }

private:
    GlReport* m_report;
};

// An item that draws through an OpenGLRenderNode fed directly by the test.
class NodeItem : public QQuickItem {
public:
    NodeItem() { setFlag(ItemHasContents); }
    std::shared_ptr<RenderNodeInput> input = std::make_shared<RenderNodeInput>();
    GlReport report;

protected:
    QSGNode* updatePaintNode(QSGNode* old, UpdatePaintNodeData*) override
    {
        auto* node = static_cast<ProbeNode*>(old);
        if (!node)
            node = new ProbeNode(input, &report);
        node->sync(this);
        return node;
    }
};

using ColourAt = std::function<QColor(int x, int y)>;

// A received UYVY frame that owns exactly stride x height bytes; the bytes
// past each row's picture are filled with green, which must never show.
VideoFramePtr makeFrame(int width, int height, int stride, const ColourAt& colourAt,
    NDIlib_frame_format_type_e format = NDIlib_frame_format_type_progressive, float aspect = 0, int rateN = 30)
{
    auto* bytes = new uint8_t[size_t(stride) * size_t(height)];
    const Uyvy padding = scene::toUyvy(0, 255, 0);
    for (int i = 0; i < stride * height; ++i)
        bytes[i] = i % 2 == 0 ? padding.u : padding.y;
    for (int y = 0; y < height; ++y) {
        uint8_t* row = bytes + size_t(stride) * size_t(y);
        for (int x = 0; x < width; ++x) {
            const QColor c = colourAt(x, y);
            const Uyvy yuv = scene::toUyvy(c.red(), c.green(), c.blue());
            row[2 * x] = x % 2 == 0 ? yuv.u : yuv.v;
            row[2 * x + 1] = yuv.y;
        }
    }
    Media_video_frame_t record;
    record.xres = width;
    record.yres = height;
    record.frame_rate_N = rateN;
    record.frame_rate_D = 1;
    record.frame_format_type = format;
    record.picture_aspect_ratio = aspect;
    record.p_data = bytes;
    record.line_stride_in_bytes = stride;
    record.timecode = 0;
    return std::make_shared<MediaFrameWrapper<Media_video_frame_t, MediaInstancePtr>>(nullptr, record);
}

// Left half red, right half blue.
QColor halves(int x, int width)
{
    return x < width / 2 ? kRed : kBlue;
}

class RenderNodeTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(scene.valid()); }
    OffscreenScene scene { 400, 300 };
};

} // namespace

// Every frame is drawn over its whole width and height, fitted into the tile
// with its aspect, bars black, and no padding byte shows.
TEST_F(RenderNodeTest, FramesOfEveryShapeDrawWholeAndFittedWithBlackBars)
{
    struct Case {
        const char* name;
        int width, height, stride;
        NDIlib_frame_format_type_e format;
        float aspect; // picture aspect of a single field
        int rateN;
    };
    const Case cases[] = {
        { "progressive 16:9", 64, 36, 128, NDIlib_frame_format_type_progressive, 0, 30 },
        { "odd width", 63, 36, 126, NDIlib_frame_format_type_progressive, 0, 30 },
        { "padded stride", 64, 36, 160, NDIlib_frame_format_type_progressive, 0, 30 },
        { "odd padding", 64, 36, 131, NDIlib_frame_format_type_progressive, 0, 30 },
        { "width not a multiple of 16", 40, 36, 80, NDIlib_frame_format_type_progressive, 0, 30 },
        { "single field", 64, 18, 128, NDIlib_frame_format_type_field_0, 64.0f / 36.0f, 30 },
        { "rate N = 0", 64, 36, 128, NDIlib_frame_format_type_progressive, 0, 0 },
    };
    auto* item = scene.add<NodeItem>(0, 0, 400, 300);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        item->input->setVideo(makeFrame(
            c.width, c.height, c.stride, [&](int x, int) { return halves(x, c.width); }, c.format, c.aspect, c.rateN));
        const QImage image = scene.render();
        const double aspect = c.format == NDIlib_frame_format_type_field_0 ? c.aspect : double(c.width) / c.height;
        const QRectF fit = OpenGLRenderNode::fitPicture(aspect, 0, 400, 300);
        const int midY = int(fit.center().y());
        // Inside the picture: red at its left edge, blue at its right edge.
        EXPECT_TRUE(scene::near(image.pixel(int(fit.left()) + 1, midY), kRed));
        EXPECT_TRUE(scene::near(image.pixel(int(fit.right()) - 2, midY), kBlue))
            << QColor(image.pixel(int(fit.right()) - 2, midY)).name().toStdString();
        EXPECT_TRUE(scene::near(image.pixel(int(fit.left() + 0.75 * fit.width()), int(fit.top()) + 1), kBlue));
        EXPECT_TRUE(scene::near(image.pixel(int(fit.left() + 0.25 * fit.width()), int(fit.bottom()) - 2), kRed));
        // Bars above and below (the tile is wider than 16:9 tall): black.
        if (fit.top() >= 2) {
            EXPECT_TRUE(scene::near(image.pixel(200, int(fit.top()) - 2), kBlack));
            EXPECT_TRUE(scene::near(image.pixel(200, int(fit.bottom()) + 1), kBlack));
        }
        if (fit.left() >= 2) {
            EXPECT_TRUE(scene::near(image.pixel(int(fit.left()) - 2, midY), kBlack));
        }
        // Nowhere the green of the padding.
        int green = 0;
        for (int y = 0; y < image.height(); y += 3)
            for (int x = 0; x < image.width(); x += 3)
                green += scene::near(image.pixel(x, y), kGreen, 60) ? 1 : 0;
        EXPECT_EQ(green, 0);
    }
}

TEST_F(RenderNodeTest, FittingKeepsTheAspectAndTurnsWithTheAngle)
{
    EXPECT_EQ(OpenGLRenderNode::fitPicture(1920.0 / 1080, 0, 400, 400), QRectF(0, 87.5, 400, 225));
    EXPECT_EQ(OpenGLRenderNode::fitPicture(1920.0 / 1080, 90, 400, 400), QRectF(87.5, 0, 225, 400));
    EXPECT_EQ(OpenGLRenderNode::fitPicture(0, 0, 400, 300), QRectF(0, 0, 400, 300));
}

// A bus picture (a rendered frame) draws like a received one; a tile
// without any picture is black.
TEST_F(RenderNodeTest, RenderedFramesDrawAndNoPictureIsBlack)
{
    auto* item = scene.add<NodeItem>(0, 0, 400, 300);
    EXPECT_TRUE(scene::near(scene.render().pixel(200, 150), kBlack));

    std::vector<uint8_t> pixels(160 * 90 * 2);
    scene::fillFlat(pixels, kBlue);
    item->input->setVideo(std::make_shared<VideoFrame>(pixels.data(), 160, 90, uint32_t(pixels.size()), 320));
    QImage image = scene.render();
    EXPECT_TRUE(scene::near(image.pixel(200, 150), kBlue));
    EXPECT_TRUE(scene::near(image.pixel(200, 10), kBlack)); // 400 x 225 at y 37.5

    item->input->clearPicture();
    image = scene.render();
    EXPECT_TRUE(scene::near(image.pixel(200, 150), kBlack));
}

// Lines are drawn in the tile's own rectangle: a tile away from the origin
// gets its border and corners at its own edges, not shifted again.
TEST_F(RenderNodeTest, OverlayLinesFollowTheTilesOwnRectangle)
{
    auto* item = scene.add<NodeItem>(100, 60, 200, 180);
    item->input->setVideo(makeFrame(64, 36, 128, [](int, int) { return QColor(0, 0, 0); }));
    const struct {
        int tally;
        QColor corner;
        bool border;
    } cases[] = { { 1, kGreen, false }, { 3, kRed, true }, { 0, kBlack, false } };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.tally);
        RenderOptions options;
        options.tallyState = c.tally;
        options.borderShown = c.border;
        options.borderWidth = c.border ? 1 : 0;
        options.borderColor = QColor(Qt::white);
        options.showCenterCross = true;
        item->input->setOption(options);
        const QImage image = scene.render();
        // Top-left corner: horizontal line at 0.009 h from 0.005 w to 0.026 w.
        const int cornerY = 60 + int(0.009 * 180);
        bool found = false;
        for (int dy = -1; dy <= 1 && !found; ++dy)
            found = scene::near(image.pixel(100 + 3, cornerY + dy), c.corner, 40);
        EXPECT_TRUE(found);
        // Bottom-right corner mirrored.
        const int cornerBottom = 60 + 180 - 1 - int(0.009 * 180);
        found = false;
        for (int dy = -1; dy <= 1 && !found; ++dy)
            found = scene::near(image.pixel(100 + 200 - 4, cornerBottom + dy), c.corner, 40);
        EXPECT_TRUE(found);
        // Centre cross through the tile's centre.
        EXPECT_TRUE(scene::near(image.pixel(200, 100), kWhite, 40) || scene::near(image.pixel(199, 100), kWhite, 40));
        // The border on the tile's edge only when shown.
        EXPECT_EQ(scene::near(image.pixel(150, 60), kWhite, 40), c.border);
        // Nothing drawn outside the tile.
        EXPECT_TRUE(scene::near(image.pixel(50, 30), kBlack));
        EXPECT_TRUE(scene::near(image.pixel(350, 280), kBlack));
    }
}

// Every transition type writes every pixel of the tile; types outside the
// list draw as a mix.
TEST_F(RenderNodeTest, TransitionsWriteEveryPixelAndUnknownTypesMix)
{
    OffscreenScene square(200, 200);
    auto* item = square.add<NodeItem>(0, 0, 200, 200);
    item->input->setVideo(makeFrame(32, 32, 64, [](int, int) { return kRed; }));
    item->input->setNextVideo(makeFrame(32, 32, 64, [](int, int) { return kBlue; }));
    item->input->setAlpha(0.5f);
    for (int type : { 0, 1, 2, 3, 4, 5, 6, 7, 8, -3, 100 }) {
        SCOPED_TRACE(type);
        item->input->setTransitionEffect(type);
        const QImage image = square.render();
        int unwritten = 0;
        for (int y = 0; y < 200; y += 4)
            for (int x = 0; x < 200; x += 4)
                unwritten += qRed(image.pixel(x, y)) < 40 && qBlue(image.pixel(x, y)) < 40 ? 1 : 0;
        EXPECT_EQ(unwritten, 0);
        if (type < 1 || type > 7) {
            EXPECT_TRUE(scene::near(image.pixel(100, 100), QColor(128, 0, 128), 10))
                << QColor(image.pixel(100, 100)).name().toStdString();
        }
    }
}

// In a core profile: no error, the scene graph's vertex array back, unit 0
// active; the two textures die with the node.
TEST_F(RenderNodeTest, LeavesTheGlStateAsFoundAndDeletesItsTextures)
{
    auto* item = scene.add<NodeItem>(0, 0, 400, 300);
    item->input->setVideo(makeFrame(64, 36, 128, [](int, int) { return kRed; }));
    item->input->setNextVideo(makeFrame(64, 36, 128, [](int, int) { return kBlue; }));
    scene.render();
    const GlReport report = item->report;
    EXPECT_EQ(report.error, GLenum(GL_NO_ERROR));
    EXPECT_EQ(report.vaoAfter, report.sentinelVao);
    EXPECT_EQ(report.activeTexture, GL_TEXTURE0);
    ASSERT_NE(report.textureUnit0, 0);
    ASSERT_NE(report.textureUnit1, 0);
    ASSERT_NE(report.textureUnit0, report.textureUnit1);

    scene.remove(item); // the node goes at the next sync
    scene.render();
    ASSERT_TRUE(scene.makeCurrent());
    QOpenGLFunctions* f = scene.context().functions();
    EXPECT_FALSE(f->glIsTexture(GLuint(report.textureUnit0)));
    EXPECT_FALSE(f->glIsTexture(GLuint(report.textureUnit1)));
}

// Overlapping opaque tiles stack by z: the upper one covers the lower.
TEST_F(RenderNodeTest, UpperTileCoversTheLowerWhereTheyOverlap)
{
    auto* lower = scene.add<NodeItem>(0, 0, 400, 300);
    auto* upper = scene.add<NodeItem>(200, 150, 160, 90);
    lower->setZ(0);
    upper->setZ(1);
    lower->input->setVideo(makeFrame(64, 48, 128, [](int, int) { return kRed; }));
    upper->input->setVideo(makeFrame(64, 36, 128, [](int, int) { return kBlue; }));
    QImage image = scene.render();
    EXPECT_TRUE(scene::near(image.pixel(280, 195), kBlue));
    EXPECT_TRUE(scene::near(image.pixel(100, 100), kRed));
    lower->setZ(2);
    image = scene.render();
    EXPECT_TRUE(scene::near(image.pixel(280, 195), kRed));
}

// Tiles of one window drawing the same frame draw one texture, uploaded once;
// a tile that gets another frame then takes a texture of its own, and the
// other tile keeps showing the first picture.
TEST_F(RenderNodeTest, TilesOfOneWindowShareTheTextureOfTheFrameTheyBothShow)
{
    DrawnTiles tiles;
    const auto draw = [&] {
        DrawnTiles::Drawing drawing(tiles);
        return scene.render();
    };
    auto* a = scene.add<NodeItem>(0, 0, 200, 300);
    auto* b = scene.add<NodeItem>(200, 0, 200, 300);
    const VideoFramePtr red = makeFrame(64, 36, 128, [](int, int) { return kRed; });
    const VideoFramePtr blue = makeFrame(64, 36, 128, [](int, int) { return kBlue; });
    a->input->setVideo(red);
    b->input->setVideo(red);
    QImage image = draw();
    EXPECT_EQ(a->report.textureUnit0, b->report.textureUnit0) << "one upload for both tiles";
    EXPECT_TRUE(scene::near(image.pixel(100, 150), kRed));
    EXPECT_TRUE(scene::near(image.pixel(300, 150), kRed));

    a->input->setVideo(blue);
    a->update();
    image = draw();
    EXPECT_NE(a->report.textureUnit0, b->report.textureUnit0);
    EXPECT_TRUE(scene::near(image.pixel(100, 150), kBlue));
    EXPECT_TRUE(scene::near(image.pixel(300, 150), kRed)) << "the shared texture was not written over";

    b->input->setVideo(blue);
    image = draw();
    EXPECT_EQ(a->report.textureUnit0, b->report.textureUnit0);
    EXPECT_TRUE(scene::near(image.pixel(300, 150), kBlue));

    // The texture the tiles share goes with the last of them.
    const GLuint shared = GLuint(b->report.textureUnit0);
    scene.remove(a);
    image = draw();
    EXPECT_TRUE(scene::near(image.pixel(300, 150), kBlue));
    scene.remove(b);
    draw();
    ASSERT_TRUE(scene.makeCurrent());
    EXPECT_FALSE(scene.context().functions()->glIsTexture(shared));
}
