#pragma once
// Fixtures shared by the tests.
#include "JsonPrint.h"
#include "TimeBudget.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QList>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>

#include <functional>

namespace testsupport {

// Points HOME and the process-wide paths at a fresh temporary folder for the
// lifetime of the object: g_savePath is <tmp>/AppData/Local/Panoptra_Pro/general
// (created), g_resPath is the built resource folder (bin/res).
class TempHome {
public:
    TempHome();
    ~TempHome();
    QString home() const { return m_dir.path(); }
    QString savePath() const;

private:
    QTemporaryDir m_dir;
    QByteArray m_oldHome;
    QString m_oldSave, m_oldRes, m_oldCurrent;
};

// Processes events until pred() holds or the budget for timeoutMs has been
// spent waiting (a long event handler run meanwhile counts as one short
// pass); returns pred().
bool waitFor(const std::function<bool()>& pred, int timeoutMs = 5000);

// Writes text to path, making the missing folders; false when it could not.
bool writeFile(const QString& path, const QByteArray& text);

// The built executables folder (bin/), where the application and tools live.
QString binDir();

// A loopback port that was free a moment ago (bound, then let go), taken from
// below the kernel's range for outgoing connections: a server stopped and
// restarted on it cannot find it held by some connection's source port.
quint16 freePort();
// n different ports that are free now.
QList<quint16> distinctFreePorts(int n);

// Bytes of heap the process holds in live allocations (freed memory that the
// allocator or the sanitizer keeps back does not count): what a test of
// "memory stays flat" compares before and after a load.
size_t liveHeapBytes();

// A child process the kernel ends when the test program ends, however that
// ends: a test that ran out of time is killed, and must not leave an
// application or a source running into the tests after it. Made on the
// thread that lives as long as the child (the main thread).
class ChildProcess : public QProcess {
public:
    using QProcess::QProcess;

protected:
    void setupChildProcess() override;
};

} // namespace testsupport
