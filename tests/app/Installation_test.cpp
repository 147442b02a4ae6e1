// What the running application leaves on disk and what it shows to clients:
// the built executable is started as the operator starts it (HOME in a
// temporary folder), with a low open-file limit as many systems set.
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <QDataStream>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QProcess>
#include <QSslConfiguration>
#include <QSslKey>
#include <QSslSocket>
#include <QTemporaryDir>

#include <csignal>
#include <sys/stat.h>

namespace {

constexpr int kStartMs = 60000;

int modeOf(const QString& path)
{
    struct stat st { };
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? int(st.st_mode & 07777) : -1;
}

QSslCertificate certificateOnce(quint16 port)
{
    QSslSocket socket;
    QSslConfiguration conf = QSslConfiguration::defaultConfiguration();
    conf.setPeerVerifyMode(QSslSocket::VerifyNone);
    socket.setSslConfiguration(conf);
    socket.connectToHostEncrypted(QStringLiteral("127.0.0.1"), port);
    testsupport::waitFor([&] { return socket.isEncrypted() || socket.state() == QAbstractSocket::UnconnectedState; });
    return socket.peerCertificate();
}

// The servers start beside the window; the port may open a moment later.
QSslCertificate certificateAt(quint16 port)
{
    QSslCertificate seen;
    testsupport::waitFor([&] { return !(seen = certificateOnce(port)).isNull(); }, kStartMs);
    return seen;
}

class AppRun {
public:
    AppRun(const QString& home, quint16 httpPort, quint16 websocketPort)
        : m_save(home + "/AppData/Local/Panoptra_Pro/general")
    {
        QDir().mkpath(m_save);
        QFile config(m_save + "/device.cfg");
        config.open(QIODevice::WriteOnly);
        QDataStream(&config) << qint32(httpPort) << qint32(websocketPort) << qint32(0);
        config.close();
        // As an earlier version left it: readable by everybody.
        config.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther);

        m_earlierLogs = QDir(m_save).entryList({ "log_*.log" });
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("HOME", home);
        m_process.setProcessEnvironment(env);
        m_process.start("/bin/sh", { "-c", "ulimit -Sn 256 && exec \"$0\"", testsupport::binDir() + "/Panoptra_Pro" });
    }
    ~AppRun()
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.kill();
            m_process.waitForFinished();
        }
    }
    bool started()
    {
        return testsupport::waitFor(
            [&] {
                for (const QString& name : QDir(m_save).entryList({ "log_*.log" })) {
                    if (m_earlierLogs.contains(name))
                        continue;
                    QFile log(m_save + "/" + name);
                    if (log.open(QIODevice::ReadOnly) && log.readAll().contains("\tshow ."))
                        return true;
                }
                return false;
            },
            kStartMs);
    }
    // Soft and hard open-file limits of the running process.
    QStringList openFileLimits()
    {
        QFile limits(QStringLiteral("/proc/%1/limits").arg(m_process.processId()));
        limits.open(QIODevice::ReadOnly);
        for (const QByteArray& line : limits.readAll().split('\n')) {
            if (line.startsWith("Max open files"))
                return QString::fromLatin1(line.mid(26)).split(' ', Qt::SkipEmptyParts).mid(0, 2);
        }
        return {};
    }
    bool stop()
    {
        ::kill(pid_t(m_process.processId()), SIGTERM);
        // How it ends (and what the sanitizer finds) is the start-up test's
        // concern; here it must only be gone before its files are read.
        return m_process.waitForFinished(testsupport::budgetMs(10000))
            && m_process.exitStatus() == QProcess::NormalExit;
    }

private:
    QString m_save;
    QStringList m_earlierLogs;
    testsupport::ChildProcess m_process;
};

TEST(Installation, SettingsArePrivateTheOwnIdentityIsServedOnBothPortsAndFilesAreNotScarce)
{
    QTemporaryDir home;
    const QString save = home.path() + "/AppData/Local/Panoptra_Pro/general";
    const quint16 httpPort = testsupport::freePort(), websocketPort = testsupport::freePort();
    QSslCertificate first;
    {
        AppRun run(home.path(), httpPort, websocketPort);
        ASSERT_TRUE(run.started());
        const QStringList limits = run.openFileLimits();
        ASSERT_EQ(limits.size(), 2);
        EXPECT_EQ(limits[0], limits[1]) << "soft open-file limit left below the hard one";

        first = certificateAt(httpPort);
        ASSERT_FALSE(first.isNull());
        EXPECT_EQ(certificateAt(websocketPort), first);
        QFile crt(save + "/server.crt");
        ASSERT_TRUE(crt.open(QIODevice::ReadOnly));
        EXPECT_EQ(QSslCertificate(crt.readAll()), first);
        EXPECT_EQ(first.publicKey().algorithm(), QSsl::Ec);
        EXPECT_TRUE(run.stop());
    }

    int files = 0;
    EXPECT_EQ(modeOf(save), 0700);
    QDirIterator it(save, QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        const bool folder = QFileInfo(path).isDir();
        files += folder ? 0 : 1;
        EXPECT_EQ(modeOf(path) & 077, 0) << path.toStdString() << " " << std::oct << modeOf(path);
        if (folder) {
            EXPECT_EQ(modeOf(path), 0700) << path.toStdString();
        }
    }
    for (const char* name : { "user/users.db", "server.key", "device.cfg" })
        EXPECT_TRUE(QFile::exists(save + "/" + name)) << name;
    EXPECT_GE(files, 4) << "the log, the users, the identity";

    // The next start serves the identity made at the first.
    AppRun again(home.path(), httpPort, websocketPort);
    ASSERT_TRUE(again.started());
    EXPECT_EQ(certificateAt(httpPort), first);
    EXPECT_TRUE(again.stop());
}

} // namespace
