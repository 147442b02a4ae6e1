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
#include <sys/types.h>

#include "TestSupport.h"

namespace {

const char kFakeApp[] = "#!/bin/sh\n"
                        "printf 'arg0=%s\\n' \"$0\"\n"
                        "for a in \"$@\"; do printf 'arg=%s\\n' \"$a\"; done\n"
                        "printf 'cwd=%s\\n' \"$(pwd -P)\"\n"
                        "printf 'lib=%s\\n' \"${LD_LIBRARY_PATH-<unset>}\"\n"
                        "if [ -n \"$FAKE_HANG\" ]; then printf 'pid=%s\\n' $$; exec sleep 30; fi\n"
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
        ASSERT_TRUE(testsupport::writeFile(path, kFakeApp));
        QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }

    // Starts the launcher through the shell as `invocation`, so argument 0 is
    // exactly what a user typed (a bare name is looked up in PATH).
    QProcess* start(const QString& invocation, const QString& cwd, const QStringList& args,
        const QProcessEnvironment& env)
    {
        auto* p = new QProcess;
        p->setWorkingDirectory(cwd);
        p->setProcessEnvironment(env);
        p->start("/bin/sh", QStringList { "-c", "exec \"$0\" \"$@\"", invocation } + args);
        return p;
    }

    Outcome run(const QString& invocation, const QString& cwd, const QStringList& args,
        const QProcessEnvironment& env)
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
        const char* cwd;        // relative to the temporary root
        const char* app;        // the application that must run
        const char* libs;       // nullptr: unset, otherwise the old value
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
    ASSERT_TRUE(testsupport::waitFor([&] {
        p->waitForReadyRead(50);
        out += QString::fromLocal8Bit(p->readAllStandardOutput());
        for (const QString& l : out.split('\n'))
            if (l.startsWith("pid="))
                appPid = l.mid(4).toLongLong();
        return appPid > 0;
    }, 10000)) << qPrintable(out);

    ::kill(pid_t(p->processId()), SIGTERM);
    ASSERT_TRUE(p->waitForFinished(10000));
    EXPECT_EQ(p->exitCode(), 128 + SIGTERM);
    EXPECT_NE(::kill(pid_t(appPid), 0), 0) << "the application outlived the launcher";
}

} // namespace
