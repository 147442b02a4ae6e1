#pragma once
// A command run in a process group of its own, as a terminal runs one: the
// test can send the whole group a terminal's Ctrl-C, reads what the command
// prints, and whatever is left of the group is stopped when the object goes.
#include "TestSupport.h"

#include <QProcess>
#include <QProcessEnvironment>
#include <QStringList>

#include <csignal>
#include <sys/types.h>

namespace testsupport {

class GroupProcess {
public:
    GroupProcess(const QString& program, const QStringList& args, const QProcessEnvironment& env)
    {
        process.setProcessEnvironment(env);
        // The child of a QProcess leads no group, so setsid runs the command
        // in place: its pid names the new group.
        process.start("setsid", QStringList { program } + args);
        if (process.waitForStarted())
            m_group = pid_t(process.processId());
    }

    ~GroupProcess()
    {
        if (m_group <= 0)
            return;
        // Asked first, so scripts stop what they started; then made to.
        if (process.state() != QProcess::NotRunning) {
            ::kill(-m_group, SIGTERM);
            process.waitForFinished(30000);
        }
        ::kill(-m_group, SIGKILL);
        process.waitForFinished();
    }

    // Everything the command has written to its standard output so far.
    QString output()
    {
        m_out += QString::fromLocal8Bit(process.readAllStandardOutput());
        return m_out;
    }
    QString errors()
    {
        m_err += QString::fromLocal8Bit(process.readAllStandardError());
        return m_err;
    }

    // Until the output holds text count times.
    bool waitForOutput(const QString& text, int ms, int count = 1)
    {
        return waitFor(
            [&] {
                process.waitForReadyRead(20);
                errors();
                return output().count(text) >= count;
            },
            ms);
    }

    void signalGroup(int signal)
    {
        if (m_group > 0)
            ::kill(-m_group, signal);
    }

    QProcess process;

private:
    pid_t m_group = 0;
    QString m_out;
    QString m_err;
};

} // namespace testsupport
