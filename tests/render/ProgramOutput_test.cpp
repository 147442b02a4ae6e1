// A program's windows end to end with four live test sources (another
// process): window 1's network output, grabbed by panoptra_grab, shows each
// source's colour in its tile with black letterbox bars and the tally
// corners of the bus sources; bus tiles show the bus windows' pictures; a
// cut swaps the bus windows' pictures and the next timed take is accepted.
#include "../model/ProgramFixture.h"
#include "../ndi/NdiTestKit.h"
#include "GlTestContext.h"
#include "QuickRenderer.h"
#include "SourceManager.h"
#include "VideoRender.h"
#include "WindowMultiThreaded.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QTemporaryDir>
#include <QtQml>

#include <map>
#include <tuple>

namespace {

// One registry folder and one running source table for the whole program.
class SourceTableEnvironment : public ::testing::Environment {
public:
    void SetUp() override
    {
        registry = std::make_unique<ndikit::ScopedRegistry>();
        SourceManager::instance()->startDiscover();
    }
    void TearDown() override
    {
        SourceManager::instance()->destroyThread();
        registry.reset();
    }

private:
    std::unique_ptr<ndikit::ScopedRegistry> registry;
};

::testing::Environment* const sourceTable = ::testing::AddGlobalTestEnvironment(new SourceTableEnvironment);

bool listed(const QString& name)
{
    return testsupport::waitFor([&] { return SourceManager::instance()->getConnection(name) != nullptr; }, 10000);
}

// The video tile is built apart from the pipeline; these tests need it.
bool tilesAreBuilt()
{
    return VideoRender::staticMetaObject.indexOfMethod("changeSource(QString,QString,bool)") >= 0;
}

struct Picture {
    int width = 0, height = 0;
    QByteArray uyvy;
    bool valid() const { return width > 0 && uyvy.size() == width * height * 2; }
    const uint8_t* data() const { return reinterpret_cast<const uint8_t*>(uyvy.constData()); }
    rendertest::Yuv at(int x, int y) const { return rendertest::pixelAt(data(), width * 2, x, y); }
    rendertest::Rgb rgbAt(int x, int y) const
    {
        const rendertest::Yuv c = at(x, y);
        return rendertest::toRgb(c.y, c.u, c.v);
    }
    // The most frequent colour (per pixel pair) in a rectangle: a tile's flat
    // area, whatever the source draws over part of it.
    rendertest::Yuv dominant(int x0, int y0, int w, int h) const
    {
        std::map<std::tuple<int, int, int>, int> counts;
        for (int y = y0; y < y0 + h; ++y) {
            for (int x = x0 & ~1; x < x0 + w; x += 2) {
                const rendertest::Yuv c = at(x, y);
                ++counts[{ c.y, c.u, c.v }];
            }
        }
        auto best = std::max_element(
            counts.begin(), counts.end(), [](const auto& a, const auto& b) { return a.second < b.second; });
        return best == counts.end() ? rendertest::Yuv { -1, -1, -1 }
                                    : rendertest::Yuv { std::get<0>(best->first), std::get<1>(best->first),
                                        std::get<2>(best->first) };
    }
};

// One picture of a network-video source through panoptra_grab, while this
// thread keeps its windows rendering.
Picture grab(const QString& source, const QString& out)
{
    QProcess process;
    process.start(testsupport::binDir() + "/panoptra_grab", { source, "--out", out, "--timeout-ms", "10000" });
    testsupport::waitFor([&] { return process.state() == QProcess::NotRunning; }, 20000);
    Picture picture;
    if (process.exitCode() != 0)
        return picture;
    const QJsonObject report = QJsonDocument::fromJson(process.readAllStandardOutput()).object();
    picture.width = report.value("width").toInt();
    picture.height = report.value("height").toInt();
    QFile file(out + ".uyvy");
    if (file.open(QIODevice::ReadOnly))
        picture.uyvy = file.readAll();
    return picture;
}

std::string describe(const rendertest::Yuv& c)
{
    return std::to_string(c.y) + "/" + std::to_string(c.u) + "/" + std::to_string(c.v);
}

QJsonObject quarters(const QStringList& types, const QStringList& sources)
{
    QJsonArray positions;
    for (int i = 0; i < 4; ++i)
        positions.append(QJsonObject { { "id", i + 1 }, { "number", i + 1 }, { "type", types.value(i) },
            { "z_index", i }, { "x", 50 * (i % 2) }, { "y", 50 * (i / 2) }, { "width", 50 }, { "height", 50 },
            { "stream_id", sources.value(i) } });
    return QJsonObject { { "layout_id", "" }, { "position", positions } };
}

class ProgramOutput : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        QSurfaceFormat::setDefaultFormat(SurfaceSetup::applicationFormat());
        // As the application's start-up does, before any window loads its scene.
        qmlRegisterType<VideoRender>("SceneGraphRendering", 1, 0, "Renderer");
    }

    void SetUp() override
    {
        if (!tilesAreBuilt())
            GTEST_SKIP() << "the video tile is not in this build";
        ASSERT_TRUE(sources.waitForLine("ready Output Source 4"));
        for (int i = 1; i <= 4; ++i)
            ASSERT_TRUE(listed(QStringLiteral("Output Source %1").arg(i)));
        // Window 1 is 4:3, so its 16:9 tiles letterbox.
        fixture.win("1").setWinParams(proId(), "Show", "1", "Wall", 640, 480, 25.0);
        for (const char* id : { "pvw", "pgm", "1" }) {
            fixture.win(id).setOutputType("ndi");
            fixture.win(id).start();
        }
    }
    void TearDown() override
    {
        if (!tilesAreBuilt())
            return;
        for (const char* id : { "pvw", "pgm", "1" })
            fixture.win(id).destroy();
    }
    QString proId() const { return fixture.program.getProId(); }
    QString outputName(const char* win_id) const { return fixture.win(win_id).getRenderer()->name(); }
    bool assignBus(const char* bus, const QString& source)
    {
        return fixture.program.setVideoRectSource("", 0, "", 0, bus, 1, source);
    }
    // The source's own colour: the flat area of its own picture.
    rendertest::Yuv sourceColour(int i)
    {
        const Picture p = grab(QStringLiteral("Output Source %1").arg(i), dir.filePath(QStringLiteral("s%1").arg(i)));
        return p.valid() ? p.dominant(0, 0, p.width, p.height) : rendertest::Yuv { -1, -1, -1 };
    }
    // Grabs the window's output until check() accepts it.
    bool outputShows(const char* win_id, const std::function<bool(const Picture&)>& check, Picture* last = nullptr)
    {
        Picture p;
        const bool ok = testsupport::waitFor(
            [&] {
                p = grab(outputName(win_id), dir.filePath(win_id));
                return p.valid() && check(p);
            },
            30000);
        if (last)
            *last = p;
        return ok;
    }

    ndikit::TestSourceProcess sources { 4, "Output Source" };
    ProgramFixture fixture { "out" };
    QTemporaryDir dir;
};

bool cornerShows(const Picture& p, int tileX, int tileY, int tileH, rendertest::Rgb colour)
{
    const int y = tileY + int(0.009 * tileH);
    for (int dy = -1; dy <= 1; ++dy) {
        const rendertest::Rgb c = p.rgbAt(tileX + 5, y + dy);
        if (std::abs(c.r - colour.r) <= 40 && std::abs(c.g - colour.g) <= 40 && std::abs(c.b - colour.b) <= 40)
            return true;
    }
    return false;
}

TEST_F(ProgramOutput, TilesBarsTallyBusesAndTakeReachTheGrabbedOutput)
{
    rendertest::Yuv colour[5];
    for (int i = 1; i <= 4; ++i) {
        colour[i] = sourceColour(i);
        ASSERT_GE(colour[i].y, 0) << i;
    }
    ASSERT_TRUE(assignBus("pvw", "Output Source 1"));
    ASSERT_TRUE(assignBus("pgm", "Output Source 2"));
    fixture.win("1").setLayoutJson(proId(),
        quarters({ "", "", "", "" }, { "Output Source 1", "Output Source 2", "Output Source 3", "Output Source 4" }));

    // Tiles of 320 x 240 hold 320 x 180 pictures: 30-line bars above and below.
    Picture wall;
    const bool tiles = outputShows(
        "1",
        [&](const Picture& p) {
            for (int i = 0; i < 4; ++i) {
                const int x = 320 * (i % 2), y = 240 * (i / 2);
                if (!rendertest::near(p.dominant(x + 40, y + 60, 240, 120), colour[i + 1])
                    || !rendertest::near(p.at(x + 160, y + 10), rendertest::toYuv(0, 0, 0))
                    || !rendertest::near(p.at(x + 160, y + 230), rendertest::toYuv(0, 0, 0)))
                    return false;
            }
            // Source 1 is on preview (green corner), source 2 on program (red);
            // the corners sit at the tile's own top, in the bar.
            return cornerShows(p, 0, 0, 240, { 0, 255, 0 }) && cornerShows(p, 320, 0, 240, { 255, 0, 0 })
                && !cornerShows(p, 0, 240, 240, { 0, 255, 0 }) && !cornerShows(p, 0, 240, 240, { 255, 0, 0 });
        },
        &wall);
    EXPECT_TRUE(tiles);
    if (!tiles && wall.valid()) {
        for (int i = 0; i < 4; ++i)
            ADD_FAILURE() << "tile " << i + 1 << ": "
                          << describe(wall.dominant(320 * (i % 2) + 40, 240 * (i / 2) + 60, 240, 120)) << " want "
                          << describe(colour[i + 1]) << ", bar " << describe(wall.at(320 * (i % 2) + 160, 240 * (i / 2) + 10))
                          << " " << describe(wall.at(320 * (i % 2) + 160, 240 * (i / 2) + 230));
    }

    // Bus tiles show the bus windows' pictures.
    fixture.win("1").setLayoutJson(
        proId(), quarters({ "pvw", "pgm", "", "" }, { "", "", "Output Source 3", "Output Source 4" }));
    EXPECT_TRUE(outputShows("1", [&](const Picture& p) {
        return rendertest::near(p.dominant(40, 60, 240, 120), colour[1])
            && rendertest::near(p.dominant(360, 60, 240, 120), colour[2]);
    }));

    // A cut swaps the bus windows' pictures; the next timed take is accepted.
    const auto busesShow = [&](int preview, int program) {
        return outputShows("pvw", [&](const Picture& p) {
            return rendertest::near(p.dominant(0, p.height / 4, p.width, p.height / 2), colour[preview]);
        }) && outputShows("pgm", [&](const Picture& p) {
            return rendertest::near(p.dominant(0, p.height / 4, p.width, p.height / 2), colour[program]);
        });
    };
    EXPECT_TRUE(busesShow(1, 2));
    QString msg;
    ASSERT_TRUE(fixture.program.doTake({ { "time", 0 } }, msg)) << msg.toStdString();
    EXPECT_TRUE(busesShow(2, 1));
    EXPECT_TRUE(testsupport::waitFor([&] { return !fixture.taking(); }, 10000));
    EXPECT_TRUE(fixture.program.doTake({ { "time", 2 } }, msg)) << msg.toStdString();
    EXPECT_TRUE(testsupport::waitFor([&] { return !fixture.taking(); }, 10000));
    EXPECT_TRUE(assignBus("pvw", "Output Source 3"));
}

// Window 1 made and destroyed a hundred times while it renders live sources
// and both bus pictures and sends its output: nothing leaks or dangles (the
// sanitizers watch), and memory stays flat. The sanitizer keeps freed blocks
// in quarantine, so the live heap is compared rather than the resident size.
TEST_F(ProgramOutput, AHundredWindowCyclesWithLiveSourcesOutputAndBusReaders)
{
    ASSERT_TRUE(assignBus("pvw", "Output Source 1"));
    ASSERT_TRUE(assignBus("pgm", "Output Source 2"));
    fixture.win("1").setLayoutJson(
        proId(), quarters({ "pvw", "pgm", "", "" }, { "", "", "Output Source 3", "Output Source 4" }));
    size_t afterFirst = 0;
    for (int cycle = 0; cycle < 100; ++cycle) {
        fixture.win("1").createWindow();
        fixture.win("1").setOutputType(cycle % 2 ? "ndi" : "NDI");
        QSharedPointer<WindowMultiThreaded> window = fixture.win("1").getRenderer();
        ASSERT_TRUE(window);
        ASSERT_TRUE(testsupport::waitFor([&] { return window->renderer()->stats().passes >= 2; }, 10000)) << cycle;
        window.reset();
        if (cycle == 0)
            afterFirst = testsupport::liveHeapBytes();
    }
    fixture.win("1").destroy();
    const size_t afterLast = testsupport::liveHeapBytes();
    EXPECT_LT(double(afterLast), double(afterFirst) * 1.10) << "after first " << afterFirst << ", after last " << afterLast;
}

} // namespace
