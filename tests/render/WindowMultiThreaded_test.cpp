// The window pipeline with a scene of flat tiles: the screen output shows the
// finished picture (overlapping opaque items stacked by z), ticks and passes
// follow the request rules, bad sizes and rates render nothing, the encoder
// can be replaced while the window renders, windows come and go cleanly, and
// a scene that does not change is sent again without being drawn again.
#include "DrawnPasses.h"
#include "GlTestContext.h"
#include "TestSupport.h"
#include "media/FrameQueue.h"
#include "media/VideoFrame.h"
#include "output/GSTEAMER.h"
#include "output/ZtGstEncoder.h"
#include "render/FramelessWindow.h"
#include "render/PreviewFrame.h"
#include "render/QuickRenderer.h"
#include "render/WindowMultiThreaded.h"

#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QImage>
#include <QPixmap>
#include <QPointer>
#include <QQuickItem>
#include <QScreen>

#include <gst/gst.h>

#include <mutex>

namespace {

QString tilesScene()
{
    return QStringLiteral(PANOPTRA_TEST_DATA_DIR "/render/Tiles.qml");
}

class WindowPipeline : public ::testing::Test {
protected:
    static void SetUpTestSuite() { QSurfaceFormat::setDefaultFormat(SurfaceSetup::applicationFormat()); }

    std::unique_ptr<WindowMultiThreaded> makeWindow(
        const QString& win_id, int w, int h, double fps = 30, const QString& pro_id = "1")
    {
        auto window = std::make_unique<WindowMultiThreaded>();
        window->setId(pro_id, win_id);
        window->setName("Test_" + win_id);
        window->resize(w, h);
        window->setFrameRate(fps);
        window->loadQmlFile(tilesScene());
        window->createZtEncoder();
        return window;
    }

    // Ticks the window (as its tick thread would) until pred() holds.
    static bool tickUntil(WindowMultiThreaded& window, const std::function<bool()>& pred, int timeoutMs = 10000)
    {
        return testsupport::waitFor(
            [&] {
                window.refreshUI();
                return pred();
            },
            timeoutMs);
    }

    static int64_t passes(WindowMultiThreaded& window) { return window.renderer()->stats().passes; }
};

TEST_F(WindowPipeline, TheScreenShowsTheFinishedPictureWithOpaqueItemsStackedByZ)
{
    auto window = makeWindow("3", 320, 180);
    ASSERT_TRUE(window->isSceneLoaded());
    window->onProcessPosition(1, true);
    ASSERT_TRUE(window->screenWindow()->isVisible());
    QScreen* screen = QGuiApplication::primaryScreen();
    const QRect area = screen->geometry();

    struct Spot {
        const char* what;
        double fx, fy;
        QColor colour;
    };
    const std::vector<Spot> spots { { "left tile", 0.25, 0.5, Qt::red }, { "top right", 0.75, 0.25, Qt::blue },
        { "under the z 2 item", 0.6, 0.6, Qt::yellow }, { "bottom right", 0.9, 0.9, Qt::yellow } };
    const auto matches = [&](const QImage& image) {
        for (const Spot& s : spots) {
            const QColor c = image.pixelColor(int(s.fx * image.width()), int(s.fy * image.height()));
            if (std::abs(c.red() - s.colour.red()) > 2 || std::abs(c.green() - s.colour.green()) > 2
                || std::abs(c.blue() - s.colour.blue()) > 2)
                return false;
        }
        return true;
    };
    QImage grabbed;
    const bool shown = tickUntil(*window, [&] {
        grabbed = screen->grabWindow(0, area.x(), area.y(), area.width(), area.height()).toImage();
        return matches(grabbed);
    });
    for (const Spot& s : spots)
        EXPECT_TRUE(shown) << s.what << ": "
                           << qPrintable(
                                  grabbed.pixelColor(int(s.fx * grabbed.width()), int(s.fy * grabbed.height())).name());
    EXPECT_NE(window->renderer()->publishedTexture(), 0u);

    // Screen output 0 hides the window; the next pass withdraws the texture.
    window->onProcessPosition(0, true);
    EXPECT_FALSE(window->screenWindow()->isVisible());
    EXPECT_TRUE(tickUntil(*window, [&] { return window->renderer()->publishedTexture() == 0; }));
}

TEST_F(WindowPipeline, BadSizesAndRatesRenderNothingAndGoodOnesResume)
{
    auto window = makeWindow("4", 64, 36);
    ASSERT_TRUE(tickUntil(*window, [&] { return passes(*window) >= 2; }));

    struct Case {
        const char* what;
        int w, h;
        double fps;
    };
    for (const Case& c : std::vector<Case> { { "zero width", 0, 36, 30 }, { "one pixel rounds to zero", 1, 36, 30 },
             { "above 8192", 8194, 36, 30 }, { "zero rate", 64, 36, 0 } }) {
        window->resize(c.w, c.h);
        window->setFrameRate(c.fps);
        // Let a pass with the old settings finish, then count.
        tickUntil(
            *window, [] { return false; }, 100);
        const int64_t before = passes(*window);
        tickUntil(
            *window, [] { return false; }, 200);
        EXPECT_EQ(passes(*window), before) << c.what;
        window->resize(64, 36);
        window->setFrameRate(30);
        EXPECT_TRUE(tickUntil(*window, [&] { return passes(*window) > before; })) << c.what;
    }
    window->setFrameRate(-1);
    EXPECT_EQ(window->frameRate(), 50.0);
    window->resize(1921, 1081);
    EXPECT_EQ(window->width(), 1920);
    EXPECT_EQ(window->height(), 1080);
}

TEST_F(WindowPipeline, RequestsBeyondOnePendingAreDroppedAndTicksWaitForTheScene)
{
    auto window = std::make_unique<WindowMultiThreaded>();
    window->setId("1", "5");
    window->resize(64, 36);
    // No scene yet: ticks are dropped and counted.
    window->refreshUI();
    window->refreshUI();
    EXPECT_EQ(window->droppedTicks(), 2);
    window->loadQmlFile(tilesScene());
    ASSERT_TRUE(window->isSceneLoaded());

    // Many ticks before the GUI thread handles one: one request is queued.
    for (int i = 0; i < 20; ++i)
        window->refreshUI();
    ASSERT_TRUE(tickUntil(*window, [&] { return passes(*window) >= 3; }));
    const QuickRenderer::Stats stats = window->renderer()->stats();
    EXPECT_LE(stats.requests, stats.passes + 1);

    // Rendering off: ticks are dropped; back on 100 ms after switching on.
    window->enableRender(false);
    const int64_t dropped = window->droppedTicks();
    window->refreshUI();
    EXPECT_EQ(window->droppedTicks(), dropped + 1);
    window->enableRender(true);
    window->refreshUI();
    EXPECT_EQ(window->droppedTicks(), dropped + 2) << "not yet back on";
    const int64_t before = passes(*window);
    EXPECT_TRUE(tickUntil(*window, [&] { return passes(*window) > before; }));
}

TEST_F(WindowPipeline, TheEncoderIsReplacedWhileTheWindowRendersAndH264SizesAreEven)
{
    auto window = makeWindow("6", 1366, 768, 60);
    int w = 0, h = 0;
    bool changed = false;
    window->renderer()->getH264Size(w, h, changed);
    EXPECT_EQ(w, 1280);
    EXPECT_EQ(h, 718);
    for (int i = 0; i < 10; ++i) {
        const int64_t before = passes(*window);
        ASSERT_TRUE(tickUntil(*window, [&] { return passes(*window) > before; }));
        window->createZtEncoder();
        ASSERT_TRUE(window->encoder());
    }
    window->resize(1080, 1920);
    window->renderer()->getH264Size(w, h, changed);
    EXPECT_EQ(w, 720);
    EXPECT_EQ(h, 1280);
    EXPECT_TRUE(changed);
}

// Usual canvases keep their sizes; narrow ones are bounded with the aspect
// kept, never beyond 1920 nor below 16 on a side, always even.
TEST(EncodingSize, FollowsTheSceneWithinBounds)
{
    struct Case {
        int w, h;
        QSize expected;
    } cases[] = {
        { 1920, 1080, { 1280, 720 } },
        { 1080, 1920, { 720, 1280 } },
        { 1366, 768, { 1280, 718 } },
        { 1080, 1080, { 720, 720 } },
        { 16, 8192, { 16, 1920 } },
        { 8192, 16, { 1920, 16 } },
        { 1080, 8192, { 252, 1920 } },
        { 8192, 100, { 1920, 22 } },
        { 2000, 4000, { 720, 1440 } },
    };
    for (const Case& c : cases)
        EXPECT_EQ(QuickRenderer::encodingSize(c.w, c.h), c.expected) << c.w << "x" << c.h;
}

TEST_F(WindowPipeline, WindowsComeAndGoWithTheirSceneDestroyedAndMemoryFlat)
{
    size_t afterFirst = 0;
    for (int cycle = 0; cycle < 12; ++cycle) {
        auto window = makeWindow(cycle % 2 ? "pvw" : "pgm", 160, 90);
        window->setNDIEnable(true);
        ASSERT_TRUE(tickUntil(*window, [&] { return passes(*window) >= 3; })) << cycle;
        const QPointer<QQuickItem> root = window->rootItem();
        ASSERT_TRUE(root);
        window.reset();
        EXPECT_TRUE(testsupport::waitFor([&] { return root.isNull(); })) << cycle;
        if (cycle == 1)
            afterFirst = testsupport::liveHeapBytes();
    }
    const size_t afterLast = testsupport::liveHeapBytes();
    EXPECT_LT(double(afterLast), double(afterFirst) * 1.10 + 256 * 1024)
        << "after first " << afterFirst << ", after last " << afterLast;
}

// Whether the holder's picture shows the colour at (fx, fy) of its size.
bool holderShows(FrameQueue& holder, double fx, double fy, const QColor& colour)
{
    const std::shared_ptr<VideoFrame> frame = holder.getFrameData();
    if (!frame || !frame->data())
        return false;
    const rendertest::Yuv got
        = rendertest::pixelAt(frame->data(), int(frame->stride()), int(fx * frame->width()), int(fy * frame->height()));
    return rendertest::near(got, rendertest::toYuv(colour.red(), colour.green(), colour.blue()));
}

// Ticks until the window has sent `count` pictures in a row without drawing.
bool sendsWithoutDrawing(WindowMultiThreaded& window, int64_t count, QuickRenderer::Stats* start = nullptr)
{
    return drawn::sendsWithoutDrawing(
        *window.renderer(), count, [&] { window.refreshUI(); }, start);
}

// A scene that does not change is drawn once: later passes send that picture
// again (to the network output and the holder) until something changes,
// which the next pass draws.
TEST_F(WindowPipeline, AStillSceneIsSentAgainWithoutDrawingUntilItChanges)
{
    auto window = makeWindow("pvw", 160, 90, 30, "still");
    window->setNDIEnable(true);
    const std::shared_ptr<FrameQueue> holder = PreviewFrame::instance()->getFrame("still");
    ASSERT_TRUE(tickUntil(*window, [&] { return holderShows(*holder, 0.25, 0.5, Qt::red); }));

    const int64_t drawnBefore = window->renderer()->stats().drawn;
    QuickRenderer::Stats start;
    ASSERT_TRUE(sendsWithoutDrawing(*window, 10, &start));
    const QuickRenderer::Stats still = window->renderer()->stats();
    EXPECT_EQ(still.drawn, drawnBefore) << "nothing changed since the picture was read";
    EXPECT_GE(still.ndi_conversions - start.ndi_conversions, 10) << "the network output keeps its rate";
    EXPECT_GE(still.h264_conversions - start.h264_conversions, 10) << "so does the holder's picture";
    // Readers of the holder are not handed the same picture as a new one.
    const std::shared_ptr<VideoFrame> held = holder->getFrameData();
    ASSERT_TRUE(sendsWithoutDrawing(*window, 5));
    EXPECT_EQ(holder->getFrameData(), held);

    struct Change {
        const char* what;
        std::function<void()> apply;
        std::function<bool()> shown;
    };
    QQuickItem* left = window->rootItem()->childItems().at(0);
    const std::vector<Change> changes {
        { "a property of the scene", [&] { left->setProperty("color", QColor(Qt::green)); },
            [&] { return holderShows(*holder, 0.25, 0.5, Qt::green); } },
        { "the window's size", [&] { window->resize(320, 90); },
            [&] {
                const std::shared_ptr<VideoFrame> frame = holder->getFrameData();
                return frame && frame->height() == 360 && holderShows(*holder, 0.25, 0.5, Qt::green);
            } },
    };
    for (const Change& change : changes) {
        const int64_t drawn = window->renderer()->stats().drawn;
        change.apply();
        EXPECT_TRUE(tickUntil(*window, change.shown)) << change.what;
        EXPECT_GT(window->renderer()->stats().drawn, drawn) << change.what;
        EXPECT_TRUE(sendsWithoutDrawing(*window, 5)) << change.what;
    }
}

} // namespace

namespace {

// Which slice the encoder sends first after each start (5 = IDR, 1 = P),
// read on the pad of its sink.
class FirstSlice {
public:
    explicit FirstSlice(ZtGstEncoder& encoder)
    {
        GstElement* sink = encoder.element("app_sink");
        if (!sink)
            return;
        pad = gst_element_get_static_pad(sink, "sink");
        gst_object_unref(sink);
        probe = gst_pad_add_probe(pad, GST_PAD_PROBE_TYPE_BUFFER, &FirstSlice::onBuffer, this, nullptr);
    }
    ~FirstSlice()
    {
        if (!pad)
            return;
        gst_pad_remove_probe(pad, probe);
        gst_object_unref(pad);
    }
    bool attached() const { return pad != nullptr; }
    void reset()
    {
        std::lock_guard<std::mutex> guard(lock);
        first = 0;
    }
    int type()
    {
        std::lock_guard<std::mutex> guard(lock);
        return first;
    }

private:
    static GstPadProbeReturn onBuffer(GstPad*, GstPadProbeInfo* info, gpointer user)
    {
        auto* self = static_cast<FirstSlice*>(user);
        GstBuffer* buffer = GST_PAD_PROBE_INFO_BUFFER(info);
        GstMapInfo map;
        if (buffer && gst_buffer_map(buffer, &map, GST_MAP_READ)) {
            std::lock_guard<std::mutex> guard(self->lock);
            ZtGstEncoder::splitNalUnits(map.data, map.size, [self](const uint8_t* unit, int length) {
                const int kind = length > 0 ? unit[0] & 0x1f : 0;
                if (self->first == 0 && (kind == 1 || kind == 5))
                    self->first = kind;
            });
            gst_buffer_unmap(buffer, &map);
        }
        return GST_PAD_PROBE_OK;
    }

    GstPad* pad = nullptr;
    gulong probe = 0;
    std::mutex lock;
    int first = 0;
};

class WindowConsumers : public WindowPipeline {
protected:
    static void SetUpTestSuite()
    {
        WindowPipeline::SetUpTestSuite();
        GSTEAMER::Init(nullptr, nullptr);
    }
    static QuickRenderer::Stats stats(WindowMultiThreaded& window) { return window.renderer()->stats(); }
    // Until passes that copied the switches of now have ended and counted.
    static bool settle(WindowMultiThreaded& window)
    {
        const int64_t target = passes(window) + 3;
        return tickUntil(window, [&] { return passes(window) >= target; });
    }
};

} // namespace

TEST_F(WindowConsumers, EachConversionRunsOnlyForItsConsumerAndTheEncoderStartsWithAKeyFrame)
{
    auto window = makeWindow("7", 320, 180);
    ASSERT_TRUE(window->encoder());
    ASSERT_TRUE(settle(*window));
    EXPECT_EQ(stats(*window).ndi_conversions, 0) << "network output off";
    EXPECT_EQ(stats(*window).h264_conversions, 0) << "nobody watches";
    EXPECT_TRUE(window->encoder()->isStopped());

    window->setNDIEnable(true);
    ASSERT_TRUE(tickUntil(*window, [&] { return stats(*window).ndi_conversions >= 2; }));
    window->setNDIEnable(false);
    ASSERT_TRUE(settle(*window));
    const int64_t ndi = stats(*window).ndi_conversions;
    ASSERT_TRUE(settle(*window));
    EXPECT_EQ(stats(*window).ndi_conversions, ndi) << "network output off again";
    EXPECT_EQ(stats(*window).h264_conversions, 0);

    FirstSlice first(*window->encoder());
    ASSERT_TRUE(first.attached());
    for (int round = 0; round < 2; ++round) {
        first.reset();
        window->setH264Viewers(1);
        EXPECT_FALSE(window->encoder()->isStopped()) << round;
        ASSERT_TRUE(tickUntil(
            *window, [&] { return first.type() != 0; }, 30000))
            << round;
        EXPECT_EQ(first.type(), 5) << "round " << round << ": the first slice is an IDR";
        EXPECT_GT(stats(*window).h264_conversions, 0);

        window->setH264Viewers(0);
        EXPECT_TRUE(window->encoder()->isStopped()) << round;
        const int64_t converted = stats(*window).h264_conversions;
        ASSERT_TRUE(settle(*window));
        EXPECT_EQ(stats(*window).h264_conversions, converted) << round;
    }
}

TEST_F(WindowConsumers, ABusWindowConvertsForItsHolderOnceAReaderAsksWithoutStartingTheEncoder)
{
    auto window = makeWindow("pvw", 160, 90, 30, "holder");
    ASSERT_TRUE(settle(*window));
    EXPECT_EQ(stats(*window).h264_conversions, 0) << "nobody reads the holder yet";
    std::shared_ptr<FrameQueue> holder = PreviewFrame::instance()->getFrame("holder");
    EXPECT_FALSE(holder->getFrameData());
    ASSERT_TRUE(tickUntil(*window, [&] { return holder->getFrameData() != nullptr; }));
    EXPECT_GT(stats(*window).h264_conversions, 0);
    EXPECT_TRUE(window->encoder()->isStopped()) << "a tile reading the holder is no viewer of the stream";
    // A tile of another window may still be drawing the picture it took when
    // this window and its context go: every byte stays readable.
    const std::shared_ptr<VideoFrame> kept = holder->getFrameData();
    ASSERT_TRUE(kept && kept->data());
    window.reset();
    EXPECT_FALSE(holder->getFrameData()) << "the window let go of its frame";
    uint64_t sum = 0;
    for (uint32_t i = 0; i < kept->size(); ++i)
        sum += kept->data()[i];
    EXPECT_GT(sum, 0u);
}
