// scripts/start.sh (what scripts/run.sh ends in) as a new user meets it: in a
// terminal without a display, it says where to go once the application
// listens, and Ctrl-C ends with the application's orderly shutdown, status 0
// and nothing left behind.
#include "AppProcess.h"
#include "GroupProcess.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <csignal>

namespace {

using namespace apptest;

TEST(StartScript, CtrlCEndsInOrderWithStatusZeroAndLeavesNothingBehind)
{
    QTemporaryDir home, tmp;
    const quint16 httpPort = testsupport::freePort();
    quint16 websocketPort = testsupport::freePort();
    while (websocketPort == httpPort)
        websocketPort = testsupport::freePort();
    writeDeviceConfig(home.path(), httpPort, websocketPort);

    // As in a fresh terminal: no display and no runtime folder, so the script
    // makes both; every temporary folder it makes lies in tmp.
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("HOME", home.path());
    env.insert("TMPDIR", tmp.path());
    for (const char* name : { "DISPLAY", "XAUTHORITY", "XDG_RUNTIME_DIR", "PANOPTRA_NDI_DIR" })
        env.remove(name);
    testsupport::GroupProcess run(
        "bash", { QStringLiteral(PANOPTRA_SOURCE_DIR) + "/scripts/start.sh", testsupport::binDir() + "/.." }, env);

    ASSERT_TRUE(run.waitForOutput("To stop:", kStartMs)) << run.output().toStdString() << run.errors().toStdString();
    const QString out = run.output();
    for (const QString& fact :
        { QString("https://localhost:%1/").arg(httpPort), QString("wss://localhost:%1/").arg(websocketPort),
            QString("self-signed"), QString("admin / vexmo"), QString("Change that password"), QString("Ctrl-C") })
        EXPECT_TRUE(out.contains(fact)) << fact.toStdString() << "\n" << out.toStdString();
    const QString display = QRegularExpression("start: virtual display :(\\d+)").match(out).captured(1);
    ASSERT_FALSE(display.isEmpty()) << out.toStdString();

    // A terminal's Ctrl-C goes to the whole foreground process group.
    run.signalGroup(SIGINT);
    ASSERT_TRUE(run.process.waitForFinished(kStartMs));
    EXPECT_EQ(run.process.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(run.process.exitCode(), 0) << run.errors().toStdString();
    EXPECT_FALSE(run.errors().contains("X connection")) << run.errors().toStdString();

    const QStringList logs = logFiles(home.path());
    ASSERT_EQ(logs.size(), 1);
    const QStringList lines = logLines(home.path(), logs[0]);
    EXPECT_TRUE(contains(lines, "shutdown requested by signal 2"));
    EXPECT_TRUE(!lines.isEmpty() && lines.last().endsWith("\tshutdown complete ."));

    // The sound server's runtime folder and the display's folder are gone,
    // and so is the X server.
    const QStringList left = QDir(tmp.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
    EXPECT_TRUE(left.isEmpty()) << left.join(' ').toStdString();
    EXPECT_FALSE(QFile::exists("/tmp/.X11-unix/X" + display));
}

} // namespace
