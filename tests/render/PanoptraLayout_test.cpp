// The window scene of a program's windows, each rendered off screen with its
// window object: tiles at their rectangles with their sources' colours, bus
// tiles with the holders' pictures, tally corners after the buses, frame
// rate and size reported back to the window; a take swaps the bus windows'
// pictures and leaves no take underway, also when the buses have no source
// to show.
#include "../model/ProgramFixture.h"
#include "LiveSources.h"
#include "media/VideoFrame.h"
#include "sources/MediaConnection.h"

#include <gtest/gtest.h>

#include <QJsonArray>

using scene::OffscreenScene;

namespace {

const QColor kRed(255, 0, 0), kBlue(0, 0, 255), kBlack(0, 0, 0), kYellow(255, 255, 0), kCyan(0, 255, 255),
    kGreen(0, 255, 0);

::testing::Environment* const sourceTable = ::testing::AddGlobalTestEnvironment(new live::SourceTableEnvironment);

// A flat UYVY picture as the bus windows' conversion hands it to the holders.
struct FlatPicture {
    FlatPicture(const QColor& colour, int width, int height)
        : bytes(size_t(width) * size_t(height) * 2)
    {
        scene::fillFlat(bytes, colour);
        frame = std::make_shared<VideoFrame>(bytes.data(), width, height, uint32_t(bytes.size()), width * 2);
    }
    std::vector<unsigned char> bytes;
    std::shared_ptr<VideoFrame> frame;
};

// One window's scene, loaded with the window object as the application does.
struct WindowScene {
    WindowScene(ProgramFixture& fixture, const QString& win_id, int width, int height)
        : scene(width, height)
        , window(fixture.win(win_id))
    {
        root = scene.load(g_resPath + "/qml/PanoptraLayout.qml",
            { { "winObject", QVariant::fromValue<QObject*>(&window) },
                { "sourceManager", QVariant::fromValue<QObject*>(SourceManager::instance()) }, { "windowId", win_id },
                { "proId", fixture.program.getProId() } });
        window.changeAll(fixture.program.getProId(), true);
    }
    OffscreenScene scene;
    WindowObject& window;
    QQuickItem* root = nullptr;
};

QJsonObject quarters(const QStringList& sources)
{
    const char* types[4] = { "pvw", "pgm", "", "" };
    QJsonArray positions;
    for (int i = 0; i < 4; ++i)
        positions.append(QJsonObject { { "id", i + 1 }, { "number", i + 1 }, { "type", types[i] }, { "z_index", i },
            { "x", 50 * (i % 2) }, { "y", 50 * (i / 2) }, { "width", 50 }, { "height", 50 },
            { "stream_id", sources.value(i) } });
    return QJsonObject { { "layout_id", "" }, { "position", positions } };
}

class LayoutTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(pvw.root && pgm.root && main.root);
        senders.add("Scene A", kRed);
        senders.add("Scene B", kBlue);
        ASSERT_TRUE(live::listed("Scene A") && live::listed("Scene B"));
    }
    void TearDown() override
    {
        for (const auto& holder :
            { PreviewFrame::instance()->getFrame(proId()), ProgramFrame::instance()->getFrame(proId()) })
            holder->destroy();
    }
    QString proId() const { return fixture.program.getProId(); }

    // Renders every window (sending first) until pred holds.
    bool until(const std::function<bool()>& pred, int timeoutMs = 10000)
    {
        return testsupport::waitFor(
            [&] {
                senders.pump();
                images[0] = pvw.scene.render();
                images[1] = pgm.scene.render();
                images[2] = main.scene.render();
                return pred();
            },
            timeoutMs);
    }
    bool busesShow(QColor preview, QColor program)
    {
        return until([&] {
            return scene::near(images[0].pixel(160, 90), preview) && scene::near(images[1].pixel(160, 90), program);
        });
    }
    bool assignBus(const char* bus, const char* source)
    {
        return fixture.program.setVideoRectSource("", 0, "", 0, bus, 1, source);
    }

    ProgramFixture fixture { "scene" };
    live::Senders senders;
    WindowScene pvw { fixture, "pvw", 320, 180 };
    WindowScene pgm { fixture, "pgm", 320, 180 };
    WindowScene main { fixture, "1", 640, 360 };
    QImage images[3];
};

bool cornerShows(const QImage& image, int tileX, int tileY, int tileH, const QColor& colour)
{
    const int y = tileY + int(0.009 * tileH);
    for (int dy = -1; dy <= 1; ++dy) {
        if (scene::near(image.pixel(tileX + 5, y + dy), colour, 40))
            return true;
    }
    return false;
}

} // namespace

TEST_F(LayoutTest, TilesShowTheirSourcesTheBusesAndTheTally)
{
    ASSERT_TRUE(assignBus("pvw", "Scene A"));
    ASSERT_TRUE(assignBus("pgm", "Scene B"));
    main.window.setLayoutJson(proId(), quarters({ "", "", "Scene A", "Scene B" }));
    ASSERT_TRUE(busesShow(kRed, kBlue));

    // The bus tiles read their holders from the first pass on.
    FlatPicture preview(kYellow, 320, 180), program(kCyan, 320, 180);
    PreviewFrame::instance()->getFrame(proId())->addNewFrame(preview.frame);
    ProgramFrame::instance()->getFrame(proId())->addNewFrame(program.frame);

    ASSERT_TRUE(until([&] {
        const QImage& image = images[2];
        return scene::near(image.pixel(160, 90), kYellow) && scene::near(image.pixel(480, 90), kCyan)
            && scene::near(image.pixel(160, 270), kRed) && scene::near(image.pixel(480, 270), kBlue);
    }));
    // Tiles take the low stream, the bus windows' own pictures the high one.
    const std::shared_ptr<MediaConnection> a = SourceManager::instance()->getConnection("Scene A");
    ASSERT_TRUE(a);
    EXPECT_TRUE(a->getCapabilities(MediaConnection::BandWidthLow));
    EXPECT_TRUE(a->getCapabilities(MediaConnection::BandWidthHigh));

    // Preview's source green, program's red; bus windows without corners.
    EXPECT_TRUE(until(
        [&] { return cornerShows(images[2], 0, 180, 180, kGreen) && cornerShows(images[2], 320, 180, 180, kRed); }));
    EXPECT_FALSE(cornerShows(images[2], 0, 0, 180, kGreen) || cornerShows(images[2], 0, 0, 180, kRed));
    EXPECT_FALSE(cornerShows(images[0], 0, 0, 180, kGreen));

    // What the tiles see goes back to the window.
    EXPECT_TRUE(until([&] {
        QJsonObject reply;
        main.window.getLayoutParams(reply, "", "", proId());
        const QJsonObject third = reply.value("layout").toArray().at(2).toObject();
        return third.value("frameRate").toDouble() == 30 && !third.value("aspectRatio").toString().isEmpty();
    }));

    // A source cleared from a position: the tile lets it go and is idle.
    main.window.removeSource(4);
    VideoRender* fourth = nullptr;
    for (VideoRender* tile : main.root->findChildren<VideoRender*>()) {
        if (tile->x() == 320 && tile->y() == 180)
            fourth = tile;
    }
    ASSERT_TRUE(fourth);
    EXPECT_TRUE(until([&] { return fourth->loadingState() == "idle"; }));
}

TEST_F(LayoutTest, TakeSwapsTheBusPicturesAndEndsSoTheNextIsAccepted)
{
    ASSERT_TRUE(assignBus("pvw", "Scene A"));
    ASSERT_TRUE(assignBus("pgm", "Scene B"));
    ASSERT_TRUE(busesShow(kRed, kBlue));

    QString msg;
    ASSERT_TRUE(fixture.program.doTake({ { "time", 2 } }, msg)) << msg.toStdString();
    EXPECT_TRUE(busesShow(kBlue, kRed));
    EXPECT_TRUE(until([&] { return !fixture.taking(); }));

    // A cut, then a timed take again.
    ASSERT_TRUE(fixture.program.doTake({ { "time", 0 } }, msg)) << msg.toStdString();
    EXPECT_TRUE(busesShow(kRed, kBlue));
    EXPECT_TRUE(until([&] { return !fixture.taking(); }));
    ASSERT_TRUE(fixture.program.doTake({ { "time", 2 } }, msg)) << msg.toStdString();
    EXPECT_TRUE(busesShow(kBlue, kRed));
    EXPECT_TRUE(until([&] { return !fixture.taking(); }));
    EXPECT_TRUE(assignBus("pvw", "Scene C"));
}

// Buses whose sources are not there have no connection; their tiles still
// end the take.
TEST_F(LayoutTest, TakeEndsAlsoWhenTheBusesHaveNothingToShow)
{
    ASSERT_TRUE(assignBus("pvw", "Scene Gone 1"));
    ASSERT_TRUE(assignBus("pgm", "Scene Gone 2"));
    ASSERT_TRUE(busesShow(kBlack, kBlack));

    QString msg;
    ASSERT_TRUE(fixture.program.doTake({ { "time", 2 } }, msg)) << msg.toStdString();
    EXPECT_TRUE(until([&] { return !fixture.taking(); }));
    EXPECT_TRUE(fixture.program.doTake({ { "time", 2 } }, msg)) << msg.toStdString();
    EXPECT_TRUE(until([&] { return !fixture.taking(); }));
    EXPECT_TRUE(assignBus("pvw", "Scene A"));
    EXPECT_TRUE(busesShow(kRed, kBlack));
}

namespace {

// The running flags of the scene's timers (meters, tally corners).
QList<bool> runningTimers(QQuickItem* root)
{
    QList<bool> running;
    for (QObject* child : root->findChildren<QObject*>(QString(), Qt::FindDirectChildrenOnly)) {
        if (qstrcmp(child->metaObject()->className(), "QQmlTimer") == 0)
            running << child->property("running").toBool();
    }
    return running;
}

} // namespace

// A window with nothing to look at (no source, no meter) keeps its timers
// still, so an idle program does not wake the GUI thread; a source starts
// the tally timer, a meter the meter timer, and both stop when they go.
TEST_F(LayoutTest, TimersRunOnlyWhileTheyHaveSomethingToLookAt)
{
    const QList<bool> still { false, false };
    main.window.setLayoutJson(proId(), quarters({ "", "", "", "" }));
    ASSERT_TRUE(until([&] { return main.root->findChildren<VideoRender*>().size() == 4; }));
    EXPECT_EQ(runningTimers(main.root), still);
    EXPECT_EQ(runningTimers(pvw.root), still);
    EXPECT_EQ(runningTimers(pgm.root), still);

    main.window.setLayoutJson(proId(), quarters({ "", "", "Scene A", "" }));
    EXPECT_TRUE(until([&] { return runningTimers(main.root).count(true) == 1; }));
    main.window.setControlState("vu_meter", true);
    EXPECT_TRUE(until([&] { return runningTimers(main.root).count(true) == 2; }));
    main.window.setControlState("vu_meter", false);
    main.window.removeSource(3);
    EXPECT_TRUE(until([&] { return runningTimers(main.root) == still; }));
    EXPECT_EQ(runningTimers(pvw.root), still);
}
