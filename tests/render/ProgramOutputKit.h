#pragma once
// A program's windows with four live test sources (another process) and
// window 1's network output read back through panoptra_grab (another
// process): pictures, and sound as a WAV file measured block by block.
#include "../model/ProgramFixture.h"
#include "../ndi/NdiTestKit.h"
#include "GlTestContext.h"
#include "LiveSources.h"
#include "app/BaseConfig.h"
#include "media/GlobalData.h"
#include "render/QuickRenderer.h"
#include "render/VideoRender.h"
#include "render/WindowMultiThreaded.h"
#include "sources/SourceManager.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QTemporaryDir>
#include <QtQml>

#include <algorithm>
#include <cmath>
#include <map>
#include <tuple>

namespace programout {

using live::listed;

// The video tile is built apart from the pipeline; these tests need it.
inline bool tilesAreBuilt()
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
        return best == counts.end()
            ? rendertest::Yuv { -1, -1, -1 }
            : rendertest::Yuv { std::get<0>(best->first), std::get<1>(best->first), std::get<2>(best->first) };
    }
};

// One picture of a network-video source through panoptra_grab, while this
// thread keeps its windows rendering.
inline Picture grab(const QString& source, const QString& out)
{
    testsupport::ChildProcess process;
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

// `seconds` of a source's sound through panoptra_grab --wav; its RMS level in
// dBFS from `skipMs` on (what was on its way when the recording began is
// left out), or NaN when nothing was recorded.
inline double grabLevel(const QString& source, const QString& wavPath, int seconds, int skipMs = 200)
{
    testsupport::ChildProcess process;
    process.start(testsupport::binDir() + "/panoptra_grab",
        { source, "--wav", wavPath, "--seconds", QString::number(seconds), "--timeout-ms", "10000" });
    testsupport::waitFor([&] { return process.state() == QProcess::NotRunning; }, 20000 + seconds * 2000);
    QFile file(wavPath);
    if (process.exitCode() != 0 || !file.open(QIODevice::ReadOnly))
        return std::nan("");
    const QByteArray wav = file.readAll();
    // The canonical 44-byte header the tool writes: 16-bit stereo, 48 kHz.
    if (wav.size() <= 44 || !wav.startsWith("RIFF") || wav.mid(36, 4) != "data")
        return std::nan("");
    const auto* samples = reinterpret_cast<const int16_t*>(wav.constData() + 44);
    const size_t count = size_t(wav.size() - 44) / 2;
    const size_t from = std::min(count, size_t(skipMs) * 48 * 2);
    double sum = 0.0;
    for (size_t i = from; i < count; ++i)
        sum += double(samples[i]) * double(samples[i]);
    const double rms = count > from ? std::sqrt(sum / double(count - from)) / 32768.0 : 0.0;
    return rms > 0.0 ? 20.0 * std::log10(rms) : -200.0;
}

inline std::string describe(const rendertest::Yuv& c)
{
    return std::to_string(c.y) + "/" + std::to_string(c.u) + "/" + std::to_string(c.v);
}

inline QJsonObject quarters(const QStringList& types, const QStringList& sources)
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
        // As the application's start-up does: the mixers find the sources' connections here.
        BaseConfig::getInstance()->setSourceManager(SourceManager::instance());
        GlobalData::instance()->load();
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
        BaseConfig::getInstance()->setSourceManager(nullptr);
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
    bool outputShows(const char* win_id, const std::function<bool(const Picture&)>& check, Picture* last = nullptr,
        int timeoutMs = 30000)
    {
        Picture p;
        const bool ok = testsupport::waitFor(
            [&] {
                p = grab(outputName(win_id), dir.filePath(win_id));
                return p.valid() && check(p);
            },
            timeoutMs);
        if (last)
            *last = p;
        return ok;
    }

    // Records the window's output until its level (dBFS) lies within [low, high].
    bool outputSounds(const char* win_id, double low, double high, double* last = nullptr)
    {
        double level = std::nan("");
        const bool ok = testsupport::waitFor(
            [&] {
                level = grabLevel(outputName(win_id), dir.filePath(QStringLiteral("%1.wav").arg(win_id)), 1);
                return level >= low && level <= high;
            },
            30000);
        if (last)
            *last = level;
        return ok;
    }

    ndikit::TestSourceProcess sources { 4, "Output Source" };
    ProgramFixture fixture { "out" };
    QTemporaryDir dir;
};

} // namespace programout
