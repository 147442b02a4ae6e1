// The launcher started the ways people start it (absolute path, ./, a
// relative folder, ../, through PATH), under the names it is copied to, with
// the library path unset, empty or set; a fake application beside it reports
// what it was given.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>

#include <csignal>
#include <cstdlib>
#include <sys/types.h>
#include <unistd.h>

#include "TestSupport.h"
#include "base/ProcessSetup.h"

namespace {

// FAKE_RESTARTS=n: the first n runs (counted in the file FAKE_COUNT) end
// with the restart status (put in for @RESTART@). FAKE_HANG: waits for a
// stop signal, and with FAKE_HANG=restart answers it with the restart status.
const char kFakeApp[] = "#!/bin/sh\n"
                        "printf 'arg0=%s\\n' \"$0\"\n"
                        "for a in \"$@\"; do printf 'arg=%s\\n' \"$a\"; done\n"
                        "printf 'cwd=%s\\n' \"$(pwd -P)\"\n"
                        "printf 'lib=%s\\n' \"${LD_LIBRARY_PATH-<unset>}\"\n"
                        "printf 'mark=%s\\n' \"${PANOPTRA_LAUNCHER_PID-<unset>}\"\n"
                        "if [ \"$FAKE_HANG\" = restart ]; then\n"
                        "  sleep 30 & s=$!; trap 'kill $s; exit @RESTART@' TERM; printf 'pid=%s\\n' $$; wait; exit 1\n"
                        "fi\n"
                        "if [ -n \"$FAKE_HANG\" ]; then printf 'pid=%s\\n' $$; exec sleep 30; fi\n"
                        "if [ -n \"$FAKE_RESTARTS\" ]; then\n"
                        "  n=$(cat \"$FAKE_COUNT\" 2>/dev/null || echo 0); echo $((n + 1)) > \"$FAKE_COUNT\"\n"
                        "  [ \"$n\" -lt \"$FAKE_RESTARTS\" ] && exit @RESTART@\n"
                        "fi\n"
                        "exit ${FAKE_STATUS:-0}\n";

struct Outcome {
    int exitCode = -1;
    bool finished = false;
    QStringList lines;
    QString err;
};

class Launcher : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(tmp.isValid());
        root = QFileInfo(tmp.path()).canonicalFilePath();
        bin = root + "/bin";
        ASSERT_TRUE(QDir().mkpath(bin));
        ASSERT_TRUE(QDir().mkpath(root + "/other"));
        for (const char* name : { "launcher", "LAUNCH fake", "launch fake", "xlaunch y", "launch missing" })
            copyLauncher(name);
        writeApp("Panoptra_Pro");
        writeApp("fake");
    }

    void copyLauncher(const QString& name)
    {
        const QString to = bin + "/" + name;
        ASSERT_TRUE(QFile::copy(testsupport::binDir() + "/launcher", to)) << qPrintable(to);
        QFile::setPermissions(to, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }

    void writeApp(const QString& name)
    {
        const QString path = bin + "/" + name;
        ASSERT_TRUE(testsupport::writeFile(
            path, QByteArray(kFakeApp).replace("@RESTART@", QByteArray::number(ProcessSetup::kRestartStatus))));
        QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }

    // Starts the launcher through the shell as `invocation`, so argument 0 is
    // exactly what a user typed (a bare name is looked up in PATH).
    QProcess* start(
        const QString& invocation, const QString& cwd, const QStringList& args, const QProcessEnvironment& env)
    {
        auto* p = new QProcess;
        p->setWorkingDirectory(cwd);
        p->setProcessEnvironment(env);
        p->start("/bin/sh", QStringList { "-c", "exec \"$0\" \"$@\"", invocation } + args);
        return p;
    }

    Outcome run(const QString& invocation, const QString& cwd, const QStringList& args, const QProcessEnvironment& env)
    {
        std::unique_ptr<QProcess> p(start(invocation, cwd, args, env));
        Outcome r;
        r.finished = p->waitForFinished(20000);
        r.exitCode = p->exitCode();
        r.lines = QString::fromLocal8Bit(p->readAllStandardOutput()).split('\n');
        r.err = QString::fromLocal8Bit(p->readAllStandardError());
        return r;
    }

    QProcessEnvironment baseEnv() const
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove("LD_LIBRARY_PATH");
        // The sanitizer runtime of a test build is not the launcher's business.
        env.remove("LD_PRELOAD");
        env.insert("PATH", bin + ":" + env.value("PATH"));
        return env;
    }

    QString libs() const { return bin + "/../lib:" + bin + "/../lib/gstreamer"; }

    QTemporaryDir tmp;
    QString root, bin;
};

TEST_F(Launcher, StartsTheNamedApplicationFromItsOwnFolderHoweverItIsCalled)
{
    struct Case {
        const char* invocation; // as typed
        const char* cwd; // relative to the temporary root
        const char* app; // the application that must run
        const char* libs; // nullptr: unset, otherwise the old value
        const char* expectLibPrefix;
    };
    const Case cases[] = {
        { "@/launcher", "", "Panoptra_Pro", nullptr, "" },
        { "./launcher", "bin", "Panoptra_Pro", "", "" },
        { "bin/launcher", "", "Panoptra_Pro", "/opt/lib", "/opt/lib:" },
        { "../bin/launcher", "other", "Panoptra_Pro", nullptr, "" },
        { "launcher", "other", "Panoptra_Pro", "/opt/lib", "/opt/lib:" },
        { "@/LAUNCH fake", "other", "fake", nullptr, "" },
        { "launch fake", "other", "fake", "", "" },
        { "./xlaunch y", "bin", "Panoptra_Pro", nullptr, "" },
    };
    const QStringList args { "a b", "", "--developing", "ü" };
    for (const Case& c : cases) {
        QString invocation = QString::fromUtf8(c.invocation).replace("@", bin);
        QProcessEnvironment env = baseEnv();
        if (c.libs)
            env.insert("LD_LIBRARY_PATH", c.libs);
        const QString where = c.cwd[0] ? root + "/" + c.cwd : root;
        Outcome r = run(invocation, where, args, env);
        SCOPED_TRACE(c.invocation);
        ASSERT_TRUE(r.finished);
        EXPECT_EQ(r.exitCode, 0) << qPrintable(r.err);
        const QString appPath = bin + "/" + c.app;
        EXPECT_TRUE(r.lines.contains("arg0=" + appPath)) << qPrintable(r.lines.join('|'));
        QStringList got;
        for (const QString& l : r.lines)
            if (l.startsWith("arg="))
                got << l.mid(4);
        EXPECT_EQ(got, args);
        EXPECT_TRUE(r.lines.contains("cwd=" + bin)) << qPrintable(r.lines.join('|'));
        const QString lib = QString(c.expectLibPrefix) + libs();
        EXPECT_TRUE(r.lines.contains("lib=" + lib)) << qPrintable(r.lines.join('|'));
        EXPECT_TRUE(r.lines.contains("(launcher) Launch application " + QString(c.app) + " at " + bin + " ..."));
        EXPECT_TRUE(r.lines.contains("(launcher) Updated LD_LIBRARY_PATH=" + lib));
        EXPECT_TRUE(r.lines.contains("(launcher) Application terminated."));
    }
}

TEST_F(Launcher, EndsWithTheApplicationsStatus)
{
    QProcessEnvironment env = baseEnv();
    env.insert("FAKE_STATUS", "3");
    Outcome r = run(bin + "/launcher", root, {}, env);
    ASSERT_TRUE(r.finished);
    EXPECT_EQ(r.exitCode, 3);

    Outcome missing = run(bin + "/launch missing", root, {}, baseEnv());
    ASSERT_TRUE(missing.finished);
    EXPECT_EQ(missing.exitCode, 127);
    EXPECT_TRUE(missing.err.contains("Cannot start " + bin + "/missing")) << qPrintable(missing.err);
}

TEST_F(Launcher, StopSignalReachesTheApplication)
{
    QProcessEnvironment env = baseEnv();
    env.insert("FAKE_HANG", "1");
    std::unique_ptr<QProcess> p(start(bin + "/launcher", root, {}, env));
    QString out;
    qint64 appPid = 0;
    ASSERT_TRUE(testsupport::waitFor(
        [&] {
            p->waitForReadyRead(50);
            out += QString::fromLocal8Bit(p->readAllStandardOutput());
            for (const QString& l : out.split('\n'))
                if (l.startsWith("pid="))
                    appPid = l.mid(4).toLongLong();
            return appPid > 0;
        },
        10000))
        << qPrintable(out);

    ::kill(pid_t(p->processId()), SIGTERM);
    ASSERT_TRUE(p->waitForFinished(10000));
    EXPECT_EQ(p->exitCode(), 128 + SIGTERM);
    EXPECT_NE(::kill(pid_t(appPid), 0), 0) << "the application outlived the launcher";
}

TEST_F(Launcher, RestartStatusStartsTheApplicationAgainTheSameWay)
{
    QProcessEnvironment env = baseEnv();
    env.insert("FAKE_RESTARTS", "2");
    env.insert("FAKE_COUNT", root + "/count");
    env.insert("FAKE_STATUS", "4");
    std::unique_ptr<QProcess> p(start("./launcher", bin, { "a b", "--developing" }, env));
    ASSERT_TRUE(p->waitForStarted());
    const qint64 launcherPid = p->processId();
    ASSERT_TRUE(p->waitForFinished(20000));
    EXPECT_EQ(p->exitCode(), 4) << "the last run's status";
    const QStringList lines = QString::fromLocal8Bit(p->readAllStandardOutput()).split('\n');
    // Three runs, each seeing exactly what the first saw: the library path
    // is not extended again and the launcher names itself to each.
    const QStringList firstRun { "arg0=" + bin + "/Panoptra_Pro", "arg=a b", "arg=--developing", "cwd=" + bin,
        "lib=" + libs(), "mark=" + QString::number(launcherPid) };
    for (const QString& line : firstRun)
        EXPECT_EQ(lines.count(line), 3) << qPrintable(line) << "\n" << qPrintable(lines.join('\n'));
    EXPECT_EQ(lines.count("(launcher) Application asked to be started again."), 2);
    EXPECT_EQ(lines.count("(launcher) Application terminated."), 1);
    EXPECT_TRUE(lines.filter("Launch application").size() == 1);
}

TEST_F(Launcher, StopSignalDuringTheRestartShutdownEndsTheLauncher)
{
    QProcessEnvironment env = baseEnv();
    env.insert("FAKE_HANG", "restart");
    std::unique_ptr<QProcess> p(start(bin + "/launcher", root, {}, env));
    QString out;
    ASSERT_TRUE(testsupport::waitFor(
        [&] {
            p->waitForReadyRead(50);
            out += QString::fromLocal8Bit(p->readAllStandardOutput());
            return out.contains("pid=");
        },
        10000))
        << qPrintable(out);

    ::kill(pid_t(p->processId()), SIGTERM);
    ASSERT_TRUE(p->waitForFinished(10000));
    out += QString::fromLocal8Bit(p->readAllStandardOutput());
    EXPECT_EQ(p->exitCode(), 0) << qPrintable(out);
    EXPECT_EQ(out.count("arg0="), 1) << qPrintable(out);
    EXPECT_FALSE(out.contains("asked to be started again")) << qPrintable(out);
}

// The application takes the launcher's mark only from its own parent, and
// removes it so that nothing it starts inherits it.
TEST(LauncherMark, CountsOnlyWhenTheParentSetIt)
{
    const struct {
        QByteArray value; // empty: unset
        bool launched;
    } cases[] = {
        { QByteArray::number(qint64(::getppid())), true },
        { QByteArray::number(qint64(::getpid())), false },
        { QByteArray::number(qint64(::getppid())) + "x", false },
        { "1", false },
        { "", false },
    };
    for (const auto& c : cases) {
        if (c.value.isEmpty())
            ::unsetenv("PANOPTRA_LAUNCHER_PID");
        else
            ::setenv("PANOPTRA_LAUNCHER_PID", c.value.constData(), 1);
        EXPECT_EQ(ProcessSetup::takeLauncherMark(), c.launched) << c.value.constData();
        EXPECT_EQ(std::getenv("PANOPTRA_LAUNCHER_PID"), nullptr);
    }
}

} // namespace
