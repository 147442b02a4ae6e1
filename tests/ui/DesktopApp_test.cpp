// The desktop window of the real application under the virtual X server: what
// a person sees (the window, its QR code) and what a person does (open the
// settings, type new ports, "Restart Now"), driven through X input events.
#include "../http/HttpTestClient.h"
#include "AppProcess.h"
#include "QrReader.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QGuiApplication>
#include <QHostAddress>
#include <QImage>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkInterface>
#include <QProcess>
#include <QRegularExpression>
#include <QScreen>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>

#include <algorithm>
#include <csignal>

namespace {

using namespace apptest;

const QRgb kLeftPanel = qRgb(0x21, 0x21, 0x26);
const QRgb kRightArea = qRgb(0x17, 0x18, 0x1a);
const QRgb kSettingsBar = qRgb(0x2c, 0x2c, 0x33);

// The whole virtual screen. The test runs alone (no other test's window lies
// over the one under test).
QImage grabScreen()
{
    return QGuiApplication::primaryScreen()->grabWindow(0).toImage().convertToFormat(QImage::Format_RGB32);
}

// The main window's top-left corner: its left panel's colour with the right
// area's colour 1279 x 799 pixels further on (the window is 1280 x 800).
QPoint findWindow(const QImage& screen)
{
    for (int y = 0; y + 799 < screen.height(); ++y)
        for (int x = 0; x + 1279 < screen.width(); ++x)
            if (screen.pixel(x, y) == kLeftPanel && screen.pixel(x + 1279, y + 799) == kRightArea
                && (x == 0 || screen.pixel(x - 1, y + 400) != kLeftPanel))
                return { x, y };
    return { -1, -1 };
}

// What the window lists first: the first IPv4 address that is not localhost.
QString firstAddress(int httpPort)
{
    for (const QHostAddress& a : QNetworkInterface::allAddresses())
        if (a != QHostAddress(QHostAddress::LocalHost) && a.toIPv4Address() != 0)
            return QString("https://%1:%2/").arg(a.toString()).arg(httpPort);
    return {};
}

// Keeps a grab where a person can look at it, when asked to.
void keep(const QImage& image, const QString& name)
{
    const QString dir = qEnvironmentVariable("PANOPTRA_GRAB_DIR");
    if (!dir.isEmpty())
        image.save(dir + "/" + name + ".png");
}

bool xdotool(const QStringList& args)
{
    QProcess p;
    p.start("xdotool", args);
    return p.waitForFinished(testsupport::budgetMs(10000)) && p.exitCode() == 0;
}

bool clickAt(QPoint p)
{
    return xdotool({ "mousemove", "--sync", QString::number(p.x()), QString::number(p.y()) })
        && xdotool({ "click", "1" });
}

bool typeInto(QPoint field, const QString& text)
{
    return clickAt(field) && xdotool({ "key", "ctrl+a" }) && xdotool({ "type", "--delay", "20", text });
}

bool processGone(qint64 pid)
{
    QFile stat(QString("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return true;
    const QByteArray line = stat.readAll();
    const int close = line.lastIndexOf(')');
    return close > 0 && line.mid(close + 2, 1) == "Z";
}

TEST(DesktopApp, WindowShowsTheCodeOfTheFirstAddressInBothLanguages)
{
    for (const QString& locale : { QString("en_US.UTF-8"), QString("zh_CN.UTF-8") }) {
        SCOPED_TRACE(locale.toStdString());
        QTemporaryDir home;
        const quint16 httpPort = testsupport::freePort();
        writeDeviceConfig(home.path(), httpPort, testsupport::freePort());
        App app(home.path(), {}, {}, locale);
        ASSERT_TRUE(app.waitForLogLine("show .")) << app.process.readAllStandardError().toStdString();

        QImage screen;
        QPoint origin;
        ASSERT_TRUE(testsupport::waitFor(
            [&] {
                screen = grabScreen();
                origin = findWindow(screen);
                return origin.x() >= 0;
            },
            20000))
            << "no 1280 x 800 window on the screen";
        keep(screen.copy(QRect(origin, QSize(1280, 800))), "desktop-" + locale.left(2));

        const QString expected = firstAddress(httpPort);
        EXPECT_EQ(uitest::readQrCode(screen.copy(QRect(origin + QPoint(724, 318), QSize(210, 210)))), expected);

        httptest::Client https;
        ASSERT_TRUE(testsupport::waitFor([&] { return https.connectTo(httpPort); }, kStartMs));
        const QJsonObject general = QJsonDocument::fromJson(https.get("/api/v2/config/general.json").body).object();
        EXPECT_EQ(general.value("data").toObject().value("qrcode").toString(), expected + "/index.html")
            << QJsonDocument(general).toJson().toStdString();

        ASSERT_TRUE(app.stopsCleanly(SIGTERM));
    }
}

// How many pixels of the region have the colour of the failure text (its
// anti-aliased edges aside).
int failureTextPixels(const QImage& region)
{
    int count = 0;
    for (int y = 0; y < region.height(); ++y)
        for (int x = 0; x < region.width(); ++x)
            count += region.pixel(x, y) == qRgb(0xff, 0x6d, 0x01) ? 1 : 0;
    return count;
}

TEST(DesktopApp, WindowSaysWhyTheHttpsPortCannotBeOpenedInsteadOfOfferingIt)
{
    // Another program holds the HTTPS port for the whole run.
    QTcpServer other;
    ASSERT_TRUE(other.listen(QHostAddress::Any, 0));
    QTemporaryDir home;
    writeDeviceConfig(home.path(), other.serverPort(), testsupport::freePort());
    App app(home.path());
    ASSERT_TRUE(app.waitForLogLine("show .")) << app.process.readAllStandardError().toStdString();
    // After the wait for the port to come free.
    ASSERT_TRUE(testsupport::waitFor(
        [&] {
            const QStringList lines = app.runLogLines();
            return std::any_of(lines.begin(), lines.end(),
                [](const QString& l) { return l.contains("[http] listen on") && l.contains("failed"); });
        },
        kStartMs));

    QImage screen;
    QPoint origin;
    const QRect codeAndList(QPoint(564, 250), QSize(530, 456));
    ASSERT_TRUE(testsupport::waitFor(
        [&] {
            screen = grabScreen();
            origin = findWindow(screen);
            return origin.x() >= 0 && failureTextPixels(screen.copy(codeAndList.translated(origin))) > 100;
        },
        20000))
        << "no failure text in the window";
    keep(screen.copy(QRect(origin, QSize(1280, 800))), "desktop-listen-failure");
    EXPECT_EQ(uitest::readQrCode(screen.copy(QRect(origin + QPoint(724, 318), QSize(210, 210)))), "");
    // The terminal is told right after the window, but that may come later
    // here: the window was read from the screen, the terminal is a pipe.
    QString terminal;
    EXPECT_TRUE(testsupport::waitFor([&] {
        terminal += QString::fromLocal8Bit(app.process.readAllStandardOutput());
        return terminal.contains(QString("cannot listen on port %1").arg(other.serverPort()));
    })) << terminal.toStdString();
    ASSERT_TRUE(app.stopsCleanly(SIGTERM));
}

TEST(DesktopApp, RestartNowComesBackOnTheNewPorts)
{
    QTemporaryDir home;
    writeDeviceConfig(home.path(), testsupport::freePort(), testsupport::freePort());
    const quint16 newHttp = testsupport::freePort();
    quint16 newWebsocket = testsupport::freePort();
    while (newWebsocket == newHttp)
        newWebsocket = testsupport::freePort();
    App app(home.path());
    ASSERT_TRUE(app.waitForLogLine("show .")) << app.process.readAllStandardError().toStdString();
    QPoint origin;
    ASSERT_TRUE(testsupport::waitFor([&] { return (origin = findWindow(grabScreen())).x() >= 0; }, 20000));

    // The settings window opens centred on the main window, 120 pixels right.
    ASSERT_TRUE(clickAt(origin + QPoint(70 + 113, 210 + 23)));
    const QPoint settings = origin + QPoint((1280 - 724) / 2 + 120, (800 - 465) / 2);
    ASSERT_TRUE(testsupport::waitFor(
        [&] {
            const QImage s = grabScreen();
            return !s.isNull() && s.pixel(settings + QPoint(300, 10)) == kSettingsBar;
        },
        10000))
        << "the settings window did not open";
    keep(grabScreen(), "settings");
    ASSERT_TRUE(typeInto(settings + QPoint(400, 210), QString::number(newHttp)));
    ASSERT_TRUE(typeInto(settings + QPoint(400, 290), QString::number(newWebsocket)));
    ASSERT_TRUE(clickAt(settings + QPoint(390 + 93, 380 + 23)));

    ASSERT_TRUE(app.process.waitForFinished(testsupport::budgetMs(kStartMs))) << "the old process did not end";
    EXPECT_EQ(app.process.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(app.process.exitCode(), 0) << app.process.readAllStandardError().toStdString();
    // The old run's log says which process took over (the new run writes a log of its own).
    QStringList oldLog;
    for (const QString& name : logFiles(home.path()))
        oldLog << logLines(home.path(), name);
    qint64 pid = 0;
    for (const QString& line : oldLog) {
        const QRegularExpressionMatch m = QRegularExpression("restart: started .* as pid (\\d+)").match(line);
        if (m.hasMatch())
            pid = m.captured(1).toLongLong();
    }
    ASSERT_GT(pid, 0) << oldLog.mid(oldLog.size() - 40).join('\n').toStdString();

    // The new process listens on both new ports.
    httptest::Client https;
    EXPECT_TRUE(testsupport::waitFor([&] { return https.connectTo(newHttp); }, kStartMs));
    QTcpSocket websocket;
    EXPECT_TRUE(testsupport::waitFor(
        [&] {
            websocket.abort();
            websocket.connectToHost(QHostAddress::LocalHost, newWebsocket);
            return websocket.waitForConnected(200);
        },
        kStartMs));
    for (const QString& name : logFiles(home.path()))
        for (const QString& line : logLines(home.path(), name))
            EXPECT_FALSE(line.contains("listen") && line.contains("failed")) << line.toStdString();

    ::kill(pid_t(pid), SIGTERM);
    EXPECT_TRUE(testsupport::waitFor([&] { return processGone(pid); }, 20000));
}

} // namespace
