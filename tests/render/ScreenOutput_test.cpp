// Screen output on an X server with two screens. The test starts its own
// Xvfb with two screens (xvfb-run) and runs its child case there: the window
// shown with screen output 2 must fill the second X screen (grabbed with
// xwd), and screen output 0 must take it away again.
#include "GlTestContext.h"
#include "TestSupport.h"
#include "render/FramelessWindow.h"
#include "render/QuickRenderer.h"
#include "render/WindowMultiThreaded.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QGuiApplication>
#include <QProcess>
#include <QScopeGuard>
#include <QScreen>
#include <QtEndian>

#include <csignal>

namespace {

const char* const kChildVariable = "PANOPTRA_SCREEN_OUTPUT_CHILD";

struct Rgb {
    int r, g, b;
};

// One pixel of an X window dump (xwd format: big-endian header, colour map,
// then 24/32-bit pixels), or {-1, -1, -1} when the dump cannot be read.
struct XwdImage {
    int width = 0, height = 0, bytesPerLine = 0, bitsPerPixel = 0, byteOrder = 0, offset = 0;
    QByteArray data;

    bool parse(const QByteArray& bytes)
    {
        data = bytes;
        if (bytes.size() < 100)
            return false;
        const auto field = [&](int i) { return int(qFromBigEndian<quint32>(bytes.constData() + i * 4)); };
        const int headerSize = field(0);
        width = field(4);
        height = field(5);
        byteOrder = field(7);
        bitsPerPixel = field(11);
        bytesPerLine = field(12);
        const int colours = field(19);
        offset = headerSize + colours * 12;
        return bitsPerPixel == 32 && offset + qint64(bytesPerLine) * height <= bytes.size();
    }
    Rgb at(int x, int y) const
    {
        const uchar* p = reinterpret_cast<const uchar*>(data.constData()) + offset + y * bytesPerLine + x * 4;
        const quint32 v = byteOrder ? qFromBigEndian<quint32>(p) : qFromLittleEndian<quint32>(p);
        return { int((v >> 16) & 0xff), int((v >> 8) & 0xff), int(v & 0xff) };
    }
};

bool grabScreen(int screen, XwdImage& image)
{
    QString display = qEnvironmentVariable("DISPLAY");
    display = display.left(display.lastIndexOf('.') > display.indexOf(':') ? display.lastIndexOf('.') : display.size());
    QProcess xwd;
    xwd.start("xwd", { "-display", QStringLiteral("%1.%2").arg(display).arg(screen), "-root", "-silent" });
    return xwd.waitForFinished(testsupport::budgetMs(5000)) && xwd.exitCode() == 0
        && image.parse(xwd.readAllStandardOutput());
}

bool near(const Rgb& c, int r, int g, int b)
{
    return std::abs(c.r - r) <= 2 && std::abs(c.g - g) <= 2 && std::abs(c.b - b) <= 2;
}

TEST(ScreenOutput, ChildOnTwoScreens)
{
    if (qEnvironmentVariableIsEmpty(kChildVariable))
        GTEST_SKIP() << "runs inside the two-screen X server started by ScreenOutput.SecondScreen";
    QSurfaceFormat::setDefaultFormat(SurfaceSetup::applicationFormat());
    ASSERT_EQ(QGuiApplication::screens().size(), 2);

    WindowMultiThreaded window;
    window.setId("1", "2");
    window.resize(320, 180);
    window.setFrameRate(30);
    window.loadQmlFile(QStringLiteral(PANOPTRA_TEST_DATA_DIR "/render/Tiles.qml"));
    ASSERT_TRUE(window.isSceneLoaded());
    window.onProcessPosition(2, true);
    EXPECT_EQ(window.screenWindow()->screen(), QGuiApplication::screens().at(1));

    // Screen 1 of this server is 800 x 450 (16:9): the picture fills it.
    XwdImage image;
    const bool shown = testsupport::waitFor(
        [&] {
            window.refreshUI();
            return grabScreen(1, image) && image.width == 800 && near(image.at(200, 225), 255, 0, 0)
                && near(image.at(600, 100), 0, 0, 255) && near(image.at(600, 350), 255, 255, 0);
        },
        15000);
    EXPECT_TRUE(shown) << "left " << image.at(200, 225).r << "," << image.at(200, 225).g << "," << image.at(200, 225).b;
    XwdImage first;
    ASSERT_TRUE(grabScreen(0, first));
    EXPECT_FALSE(near(first.at(first.width / 4, first.height / 2), 255, 0, 0)) << "not on the first screen";

    window.onProcessPosition(0, true);
    EXPECT_FALSE(window.screenWindow()->isVisible());
    EXPECT_TRUE(testsupport::waitFor(
        [&] {
            window.refreshUI();
            return grabScreen(1, image) && !near(image.at(200, 225), 255, 0, 0);
        },
        5000))
        << "screen output 0 takes the picture away";
}

TEST(ScreenOutput, SecondScreen)
{
    if (!qEnvironmentVariableIsEmpty(kChildVariable))
        GTEST_SKIP();
    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(kChildVariable, "1");
    env.remove("DISPLAY");
    child.setProcessEnvironment(env);
    child.setProcessChannelMode(QProcess::MergedChannels);
    // xvfb-run, its X server and the child case form a process group of their
    // own, ended as a whole on every path (a child that hangs included).
    child.start("setsid",
        { "xvfb-run", "-a", "-s", "-br -screen 0 640x360x24 -screen 1 800x450x24",
            QCoreApplication::applicationFilePath(), "--gtest_filter=ScreenOutput.ChildOnTwoScreens" });
    ASSERT_TRUE(child.waitForStarted());
    const pid_t group = pid_t(child.processId());
    const auto endGroup = qScopeGuard([&] {
        if (child.state() != QProcess::NotRunning) {
            ::kill(-group, SIGTERM);
            if (!child.waitForFinished(testsupport::budgetMs(5000))) {
                ::kill(-group, SIGKILL);
                child.waitForFinished();
            }
        }
        ::kill(-group, SIGTERM); // an X server that outlived xvfb-run
    });
    ASSERT_TRUE(child.waitForFinished(testsupport::budgetMs(50000)));
    const QByteArray output = child.readAll();
    EXPECT_EQ(child.exitCode(), 0) << output.toStdString();
    EXPECT_TRUE(output.contains("[  PASSED  ] 1 test")) << output.toStdString();
}

} // namespace
