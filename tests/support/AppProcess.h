#pragma once
// The built application run as the operator would run it: HOME in a
// temporary folder, servers on free ports from "device.cfg", the run's log
// read back, stopped with signals.
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <QDataStream>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSet>
#include <QStringList>

#include <algorithm>
#include <csignal>

namespace apptest {

inline constexpr int kStartMs = 60000; // a sanitized start with a fresh media registry is slow
inline constexpr int kStopMs = 5000;

inline QString savePathOf(const QString& home)
{
    return home + "/AppData/Local/Panoptra_Pro/general";
}

// Keeps the servers off their default ports, away from other tests.
inline void writeDeviceConfig(
    const QString& home, quint16 httpPort = testsupport::freePort(), quint16 websocketPort = testsupport::freePort())
{
    QDir().mkpath(savePathOf(home));
    QFile file(savePathOf(home) + "/device.cfg");
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    QDataStream out(&file);
    out << qint32(httpPort) << qint32(websocketPort) << qint32(0);
}

inline QStringList logFiles(const QString& home)
{
    return QDir(savePathOf(home)).entryList({ "log_*.log" }, QDir::Files, QDir::Name);
}

inline QStringList logLines(const QString& home, const QString& name)
{
    QFile file(savePathOf(home) + "/" + name);
    file.open(QIODevice::ReadOnly);
    return QString::fromUtf8(file.readAll()).split("\r\n", Qt::SkipEmptyParts);
}

inline bool contains(const QStringList& lines, const QString& text)
{
    return std::any_of(lines.begin(), lines.end(), [&](const QString& l) { return l.contains("\t" + text); });
}

class App {
public:
    explicit App(
        const QString& home, const QStringList& args = {}, const QString& workDir = {}, const QString& locale = {})
        : m_home(home)
    {
        const QStringList existing = logFiles(home);
        m_before = QSet<QString>(existing.begin(), existing.end());
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("HOME", home);
        if (!locale.isEmpty())
            env.insert("LC_ALL", locale);
        process.setProcessEnvironment(env);
        if (!workDir.isEmpty())
            process.setWorkingDirectory(workDir);
        process.start(testsupport::binDir() + "/Panoptra_Pro", args);
    }

    ~App()
    {
        if (process.state() != QProcess::NotRunning) {
            process.kill();
            process.waitForFinished();
        }
    }

    // The log file this run writes (the newest one that was not there before).
    QString runLog() const
    {
        QString newest;
        for (const QString& name : logFiles(m_home))
            if (!m_before.contains(name))
                newest = name;
        return newest;
    }
    QStringList runLogLines() const { return runLog().isEmpty() ? QStringList() : logLines(m_home, runLog()); }

    bool waitForLogLine(const QString& text, int ms = kStartMs)
    {
        return testsupport::waitFor([&] { return contains(runLogLines(), text); }, ms);
    }

    ::testing::AssertionResult stopsCleanly(int signal)
    {
        ::kill(pid_t(process.processId()), signal);
        if (!process.waitForFinished(testsupport::budgetMs(kStopMs)))
            return ::testing::AssertionFailure() << "still running " << kStopMs << " ms after signal " << signal;
        if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
            return ::testing::AssertionFailure()
                << "exit " << process.exitCode() << " (crashed: " << (process.exitStatus() == QProcess::CrashExit)
                << ")\n"
                << process.readAllStandardError().toStdString();
        return ::testing::AssertionSuccess();
    }

    testsupport::ChildProcess process;

private:
    QString m_home;
    QSet<QString> m_before;
};

} // namespace apptest
