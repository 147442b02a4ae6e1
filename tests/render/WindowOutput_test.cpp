// A window's network output, grabbed by panoptra_grab (another process):
// each tile of the scene in its colour, within 2 code values of BT.709
// limited range, at the window's size, stride and rate.
#include "../ndi/NdiTestKit.h"
#include "GlTestContext.h"
#include "TestSupport.h"
#include "output/MediaOutputManager.h"
#include "render/QuickRenderer.h"
#include "render/WindowMultiThreaded.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>

namespace {

TEST(WindowOutput, TheGrabbedOutputShowsEachTileInItsColour)
{
    ndikit::ScopedRegistry registry;
    testsupport::TempHome home;
    QSurfaceFormat::setDefaultFormat(SurfaceSetup::applicationFormat());
    QTemporaryDir dir;

    WindowMultiThreaded window;
    window.setId("8", "2");
    window.setName("Output Test");
    window.resize(320, 180);
    window.setFrameRate(25);
    MediaOutputManager::instance().setWebControl("8", "2", "https://127.0.0.1/");
    window.loadQmlFile(QStringLiteral(PANOPTRA_TEST_DATA_DIR "/render/Tiles.qml"));
    window.createZtEncoder();
    window.onProcessLive("ndi");
    ASSERT_TRUE(window.isSceneLoaded());

    // The grab runs in another process while this thread keeps ticking.
    QProcess process;
    process.start(testsupport::binDir() + "/panoptra_grab",
        { "Output Test", "--out", dir.filePath("out"), "--timeout-ms", "10000" });
    ASSERT_TRUE(testsupport::waitFor(
        [&] {
            window.refreshUI();
            return process.state() == QProcess::NotRunning;
        },
        20000));
    ASSERT_EQ(process.exitCode(), 0) << process.readAllStandardError().toStdString();
    const QJsonObject report = QJsonDocument::fromJson(process.readAllStandardOutput()).object();
    EXPECT_EQ(report.value("width").toInt(), 320);
    EXPECT_EQ(report.value("height").toInt(), 180);
    EXPECT_EQ(report.value("stride").toInt(), 640);
    EXPECT_EQ(report.value("frame_rate_N").toInt(), 25000);
    EXPECT_EQ(report.value("frame_rate_D").toInt(), 1000);
    EXPECT_NEAR(report.value("aspect").toDouble(), 320.0 / 180.0, 0.001);

    QFile file(dir.filePath("out.uyvy"));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray uyvy = file.readAll();
    ASSERT_EQ(uyvy.size(), 320 * 180 * 2);
    const auto* data = reinterpret_cast<const uint8_t*>(uyvy.constData());
    struct Spot {
        const char* what;
        int x, y;
        rendertest::Yuv colour;
    };
    const std::vector<Spot> spots { { "left tile", 80, 90, rendertest::toYuv(255, 0, 0) },
        { "top right", 240, 45, rendertest::toYuv(0, 0, 255) },
        { "bottom right over the green", 180, 100, rendertest::toYuv(255, 255, 0) },
        { "bottom right corner", 319, 179, rendertest::toYuv(255, 255, 0) },
        { "top left corner", 0, 0, rendertest::toYuv(255, 0, 0) } };
    for (const Spot& s : spots) {
        const rendertest::Yuv got = rendertest::pixelAt(data, 640, s.x, s.y);
        EXPECT_TRUE(rendertest::near(got, s.colour))
            << s.what << ": " << got.y << " " << got.u << " " << got.v << " want " << s.colour.y << " " << s.colour.u
            << " " << s.colour.v;
    }
}

} // namespace
