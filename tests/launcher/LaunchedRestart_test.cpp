// The application as the run script starts it: through the launcher, under a
// virtual X server of its own (xvfb-run). "Restart Now" in the settings
// window, clicked as a person would, brings it back on the new ports under
// the same launcher, while the X server stays.
#include "../http/HttpTestClient.h"
#include "AppProcess.h"
#include "GroupProcess.h"

#include <gtest/gtest.h>

#include <QPoint>
#include <QProcess>
#include <QRegularExpression>
#include <QSize>
#include <QTcpSocket>
#include <QTemporaryDir>

#include <csignal>

namespace {

using namespace apptest;

// xdotool on the run's own display.
class Display {
public:
    Display(const QString& display, const QString& authority)
    {
        m_env = QProcessEnvironment::systemEnvironment();
        m_env.insert("DISPLAY", display);
        m_env.insert("XAUTHORITY", authority);
    }

    QString xdotool(const QStringList& args, bool* ok = nullptr) const
    {
        QProcess p;
        p.setProcessEnvironment(m_env);
        p.start("xdotool", args);
        const bool done = p.waitForFinished(10000) && p.exitCode() == 0;
        if (ok)
            *ok = done;
        return QString::fromLocal8Bit(p.readAllStandardOutput());
    }

    // Top-left corners of the visible windows of the given size.
    QList<QPoint> windowsOfSize(QSize size) const
    {
        QList<QPoint> found;
        for (const QString& id :
            xdotool({ "search", "--onlyvisible", "--name", ".*" }).split('\n', Qt::SkipEmptyParts)) {
            const QString shell = xdotool({ "getwindowgeometry", "--shell", id });
            const auto value = [&](const char* key) {
                return QRegularExpression(QString("%1=(-?\\d+)").arg(key)).match(shell).captured(1).toInt();
            };
            if (value("WIDTH") == size.width() && value("HEIGHT") == size.height())
                found << QPoint(value("X"), value("Y"));
        }
        return found;
    }

    bool click(QPoint p) const
    {
        bool moved = false, clicked = false;
        xdotool({ "mousemove", "--sync", QString::number(p.x()), QString::number(p.y()) }, &moved);
        xdotool({ "click", "1" }, &clicked);
        return moved && clicked;
    }

    bool typeInto(QPoint field, const QString& text) const
    {
        bool all = false, typed = false;
        const bool clicked = click(field);
        xdotool({ "key", "ctrl+a" }, &all);
        xdotool({ "type", "--delay", "20", text }, &typed);
        return clicked && all && typed;
    }

private:
    QProcessEnvironment m_env;
};

TEST(LaunchedApplication, RestartNowComesBackOnTheNewPortsUnderTheSameLauncher)
{
    QTemporaryDir home;
    const QList<quint16> ports = testsupport::distinctFreePorts(4);
    const quint16 newHttp = ports[2], newWebsocket = ports[3];
    writeDeviceConfig(home.path(), ports[0], ports[1]);

    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("HOME", home.path());
    env.remove("DISPLAY");
    env.remove("XAUTHORITY");
    testsupport::GroupProcess run("xvfb-run",
        { "-a", "-s", "-screen 0 1920x1080x24", "sh", "-c",
            "echo \"display=$DISPLAY\"; echo \"authority=$XAUTHORITY\"; echo \"launcher=$$\"; exec \"$0\"",
            testsupport::binDir() + "/launcher" },
        env);
    ASSERT_TRUE(run.waitForOutput("Panoptra Pro is listening.", kStartMs))
        << run.output().toStdString() << run.errors().toStdString();
    const QString out = run.output();
    const auto field = [&](const char* key) {
        return QRegularExpression(QString("^%1=(.*)$").arg(key), QRegularExpression::MultilineOption)
            .match(out)
            .captured(1);
    };
    const Display display(field("display"), field("authority"));
    const pid_t launcher = pid_t(field("launcher").toLongLong());
    ASSERT_GT(launcher, 0) << out.toStdString();

    QList<QPoint> main;
    ASSERT_TRUE(testsupport::waitFor(
        [&] {
            return !(main = display.windowsOfSize({ 1280, 800 })).isEmpty();
        },
        20000))
        << "no main window";
    ASSERT_TRUE(display.click(main[0] + QPoint(70 + 113, 210 + 23))) << "Settings";
    QList<QPoint> settings;
    ASSERT_TRUE(testsupport::waitFor(
        [&] {
            return !(settings = display.windowsOfSize({ 724, 465 })).isEmpty();
        },
        20000))
        << "the settings window did not open";
    ASSERT_TRUE(display.typeInto(settings[0] + QPoint(400, 210), QString::number(newHttp)));
    ASSERT_TRUE(display.typeInto(settings[0] + QPoint(400, 290), QString::number(newWebsocket)));
    ASSERT_TRUE(display.click(settings[0] + QPoint(390 + 93, 380 + 23))) << "Restart Now";

    ASSERT_TRUE(run.waitForOutput("(launcher) Application asked to be started again.", kStartMs))
        << run.output().toStdString() << run.errors().toStdString();
    ASSERT_TRUE(run.waitForOutput(QString("https://localhost:%1/").arg(newHttp), kStartMs))
        << run.output().toStdString() << run.errors().toStdString();
    httptest::Client https;
    EXPECT_TRUE(testsupport::waitFor([&] { return https.connectTo(newHttp); }, kStartMs));
    QTcpSocket websocket;
    websocket.connectToHost(QHostAddress::LocalHost, newWebsocket);
    EXPECT_TRUE(websocket.waitForConnected(10000)) << websocket.errorString().toStdString();
    websocket.abort();
    EXPECT_EQ(run.process.state(), QProcess::Running) << "the X server went with the first run";

    // Stopped through the launcher, as a service manager would stop it.
    ::kill(launcher, SIGTERM);
    ASSERT_TRUE(run.process.waitForFinished(kStartMs));
    EXPECT_EQ(run.process.exitCode(), 0) << run.errors().toStdString();
    EXPECT_EQ(run.output().count("(launcher) Application terminated."), 1);
    // Both runs shut down in order.
    const QStringList logs = logFiles(home.path());
    EXPECT_EQ(logs.size(), 2);
    for (const QString& name : logs) {
        const QStringList lines = logLines(home.path(), name);
        EXPECT_TRUE(!lines.isEmpty() && lines.last().endsWith("\tshutdown complete .")) << name.toStdString();
    }
}

} // namespace
