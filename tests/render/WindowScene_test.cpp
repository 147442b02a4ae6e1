// The window scene inside the window pipeline: a program's preview and
// program windows render their sources on their render threads into the
// frame holders, window 1's bus tiles show those pictures, and a cut swaps
// the buses with the next timed take accepted; a still source is not drawn
// again, its next frame is, and a bus window nobody takes the picture of
// draws once somebody does.
#include "../model/ProgramFixture.h"
#include "DrawnPasses.h"
#include "LiveSources.h"
#include "media/VideoFrame.h"
#include "render/WindowMultiThreaded.h"

#include <gtest/gtest.h>

namespace {

const QColor kRed(255, 0, 0), kBlue(0, 0, 255);

::testing::Environment* const sourceTable = ::testing::AddGlobalTestEnvironment(new live::SourceTableEnvironment);

// Whether the build's windows render their scenes; a build whose windows
// only keep their settings has nothing to show here.
template <typename Window> auto rendersScenes(Window& window, int) -> decltype(window.isSceneLoaded())
{
    return window.isSceneLoaded();
}
template <typename Window> bool rendersScenes(Window&, long)
{
    return false;
}

bool windowsRender(ProgramFixture& fixture)
{
    const QSharedPointer<WindowMultiThreaded> window = fixture.win("pvw").getRenderer();
    return window && rendersScenes(*window, 0);
}

// The centre of a holder's newest UYVY picture is near the colour.
bool centreIs(const std::shared_ptr<FrameQueue>& holder, const QColor& colour)
{
    const std::shared_ptr<VideoFrame> frame = holder->getFrameData();
    if (!frame || !frame->data())
        return false;
    const uint32_t x = (frame->width() / 2) & ~1u, y = frame->height() / 2;
    const unsigned char* pair = frame->data() + size_t(y) * frame->stride() + size_t(x) * 2;
    const scene::Uyvy want = scene::toUyvy(colour.red(), colour.green(), colour.blue());
    return std::abs(pair[0] - want.u) <= 4 && std::abs(pair[1] - want.y) <= 4 && std::abs(pair[2] - want.v) <= 4;
}

} // namespace

TEST(WindowScene, BusWindowsFeedTheHoldersAndACutSwapsThem)
{
    scene::registerTypes();
    QSurfaceFormat::setDefaultFormat(SurfaceSetup::applicationFormat());
    live::Senders senders;
    senders.add("Pipe A", kRed);
    senders.add("Pipe B", kBlue);
    ASSERT_TRUE(live::listed("Pipe A") && live::listed("Pipe B"));
    ProgramFixture fixture("pipe");
    if (!windowsRender(fixture))
        GTEST_SKIP() << "windows do not render in this build";
    const QString pro = fixture.program.getProId();
    ASSERT_TRUE(fixture.program.setVideoRectSource("", 0, "", 0, "pvw", 1, "Pipe A"));
    ASSERT_TRUE(fixture.program.setVideoRectSource("", 0, "", 0, "pgm", 1, "Pipe B"));
    fixture.program.setStatus(true);
    const auto preview = PreviewFrame::instance()->getFrame(pro);
    const auto program = ProgramFrame::instance()->getFrame(pro);
    const auto buses = [&](QColor pvw, QColor pgm) {
        return testsupport::waitFor(
            [&] {
                senders.pump();
                return centreIs(preview, pvw) && centreIs(program, pgm);
            },
            20000);
    };
    EXPECT_TRUE(buses(kRed, kBlue));

    QString msg;
    ASSERT_TRUE(fixture.program.doTake({ { "time", 0 } }, msg)) << msg.toStdString();
    EXPECT_TRUE(buses(kBlue, kRed));
    EXPECT_TRUE(testsupport::waitFor([&] { return !fixture.taking(); }));
    EXPECT_TRUE(fixture.program.doTake({ { "time", 2 } }, msg)) << msg.toStdString();
    EXPECT_TRUE(buses(kRed, kBlue));
    fixture.program.setStatus(false);
}

// A bus window made and destroyed again and again while its tile shows a
// live source and window 1's bus tile reads its picture.
TEST(WindowScene, WindowsComeAndGoWhileTheirTilesShowLiveSources)
{
    scene::registerTypes();
    QSurfaceFormat::setDefaultFormat(SurfaceSetup::applicationFormat());
    live::Senders senders;
    senders.add("Cycle A", kRed);
    ASSERT_TRUE(live::listed("Cycle A"));
    ProgramFixture fixture("cycles");
    if (!windowsRender(fixture))
        GTEST_SKIP() << "windows do not render in this build";
    const QString pro = fixture.program.getProId();
    fixture.layout("1", { { 1, 1, "pvw", "" }, { 2, 2, "", "Cycle A" } });
    ASSERT_TRUE(fixture.program.setVideoRectSource("", 0, "", 0, "pvw", 1, "Cycle A"));
    fixture.program.setStatus(true);
    for (int cycle = 0; cycle < 20; ++cycle) {
        SCOPED_TRACE(cycle);
        WindowObject& pvw = fixture.win("pvw");
        pvw.stop();
        pvw.destroy(); // its converter lets go of the holder
        pvw.setAudioMixerObject(fixture.program.getPgmMixer(), fixture.program.getPvwMixer());
        pvw.createWindow();
        pvw.changeAll(pro, false);
        pvw.start();
        ASSERT_TRUE(testsupport::waitFor(
            [&] {
                senders.pump();
                return centreIs(PreviewFrame::instance()->getFrame(pro), kRed);
            },
            20000));
    }
    fixture.program.setStatus(false);
}

// A program of its own whose bus shows one sender, red at first, started.
class BusShowing : public ::testing::Test {
protected:
    void SetUp() override
    {
        scene::registerTypes();
        QSurfaceFormat::setDefaultFormat(SurfaceSetup::applicationFormat());
    }
    // False in a build whose windows do not render (the test skips) or on
    // a failure; arrange() runs before the program starts.
    bool start(const QString& id, const char* bus, const std::string& source,
        const std::function<void(ProgramFixture&)>& arrange = {})
    {
        senders.add(source, kRed);
        if (!live::listed(QString::fromStdString(source))) {
            ADD_FAILURE() << source << " is not listed";
            return false;
        }
        fixture = std::make_unique<ProgramFixture>(id);
        if (!windowsRender(*fixture))
            return false;
        pro = fixture->program.getProId();
        if (!fixture->program.setVideoRectSource("", 0, "", 0, bus, 1, QString::fromStdString(source))) {
            ADD_FAILURE() << "the bus does not take " << source;
            return false;
        }
        if (arrange)
            arrange(*fixture);
        fixture->program.setStatus(true);
        return true;
    }
    void TearDown() override
    {
        if (fixture)
            fixture->program.setStatus(false);
    }
    // Sends a frame on every poll until the holder's picture is the colour.
    bool pumpUntil(const std::shared_ptr<FrameQueue>& holder, QColor colour)
    {
        return testsupport::waitFor(
            [&] {
                senders.pump();
                return centreIs(holder, colour);
            },
            20000);
    }

    live::Senders senders;
    std::unique_ptr<ProgramFixture> fixture;
    QString pro;
};

// A source that stops sending leaves the preview window's picture as it is:
// the window goes on sending it without drawing, and draws the source's next
// frame as soon as it comes.
TEST_F(BusShowing, AStillSourceIsNotDrawnAgainAndItsNextFrameIs)
{
    if (!start("still", "pvw", "Still A"))
        GTEST_SKIP() << "no rendering window showing the source";
    const auto preview = PreviewFrame::instance()->getFrame(pro);
    ASSERT_TRUE(pumpUntil(preview, kRed));

    QuickRenderer* renderer = fixture->win("pvw").getRenderer()->renderer();
    QuickRenderer::Stats still;
    EXPECT_TRUE(drawn::sendsWithoutDrawing(
        *renderer, 10, [] {}, &still))
        << "a still source is drawn again";
    EXPECT_GE(renderer->stats().h264_conversions - still.h264_conversions, 10) << "the holder is fed at the rate";
    EXPECT_TRUE(centreIs(preview, kRed));

    senders.setColour("Still A", kBlue);
    senders.pump();
    EXPECT_TRUE(testsupport::waitFor([&] { return centreIs(preview, kBlue); }, 20000));
    EXPECT_GT(renderer->stats().drawn, still.drawn);
}

// A bus window whose picture nobody takes (no network output, no viewer, no
// screen, nobody reading its holder) runs its tiles' passes without drawing;
// once a reader asks, it draws the source's newest picture.
TEST_F(BusShowing, ABusWindowNobodyTakesThePictureOfIsDrawnOnceSomebodyDoes)
{
    // Window 1 shows no bus tile, and the programme window has no network output.
    if (!start("unread", "pgm", "Unread A", [](ProgramFixture& program) { program.layout("1", {}); }))
        GTEST_SKIP() << "no rendering window showing the source";
    const QSharedPointer<WindowMultiThreaded> window = fixture->win("pgm").getRenderer();
    window->onProcessLive("");
    QuickRenderer::Stats undrawn;
    EXPECT_TRUE(drawn::sendsWithoutDrawing(
        *window->renderer(), 10, [&] { senders.pump(); }, &undrawn))
        << "new pictures nobody takes are drawn";

    senders.setColour("Unread A", kBlue);
    EXPECT_TRUE(pumpUntil(ProgramFrame::instance()->getFrame(pro), kBlue));
    EXPECT_GT(window->renderer()->stats().drawn, undrawn.drawn);
}
