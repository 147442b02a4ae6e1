#include "TestSupport.h"

#include "base/Globals.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QList>
#include <QTcpServer>
#include <QThread>

#include <algorithm>
#include <limits>
#include <mutex>
#include <random>

#include <csignal>
#include <malloc.h>
#include <sys/prctl.h>

#if defined(__SANITIZE_ADDRESS__)
// The sanitizer runtime's count of live bytes (declared here: the compiler
// does not install the runtime's headers).
extern "C" size_t __sanitizer_get_current_allocated_bytes();
#endif

namespace testsupport {

TempHome::TempHome()
    : m_oldHome(qgetenv("HOME"))
    , m_oldSave(g_savePath)
    , m_oldRes(g_resPath)
    , m_oldCurrent(g_currentPath)
{
    qputenv("HOME", m_dir.path().toLocal8Bit());
    g_currentPath = binDir();
    g_resPath = binDir() + "/res";
    g_savePath = savePath();
    QDir().mkpath(g_savePath);
}

TempHome::~TempHome()
{
    qputenv("HOME", m_oldHome);
    g_savePath = m_oldSave;
    g_resPath = m_oldRes;
    g_currentPath = m_oldCurrent;
}

QString TempHome::savePath() const
{
    return m_dir.path() + "/AppData/Local/Panoptra_Pro/general";
}

bool waitFor(const std::function<bool()>& pred, int timeoutMs)
{
    // Only waiting counts against the budget: a pass that ran long because a
    // handler on this thread did the test's own work meanwhile (a program
    // made on it while its request is on the way) counts as one short pass.
    constexpr qint64 kPassMs = 50;
    const int budget = budgetMs(timeoutMs);
    qint64 waited = 0;
    QElapsedTimer pass;
    pass.start();
    while (!pred()) {
        waited += std::min(pass.restart(), kPassMs);
        if (waited > budget) {
            // One event (a window built on this thread) may have taken the
            // last pass: what arrived meanwhile is still looked at once.
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
            return pred();
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(1);
    }
    return true;
}

bool writeFile(const QString& path, const QByteArray& text)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(text) == text.size();
}

QString binDir()
{
    return QStringLiteral(PANOPTRA_BIN_DIR);
}

quint16 freePort()
{
    // The first port the kernel hands to outgoing connections; the test ports
    // come from the 12,000 below it (above the registered services).
    static const int ephemeralLow = [] {
        QFile range("/proc/sys/net/ipv4/ip_local_port_range");
        int low = 0;
        if (range.open(QIODevice::ReadOnly))
            low = range.readAll().simplified().split(' ').value(0).toInt();
        return low > 12000 + 1024 ? low : 32768;
    }();
    static std::mt19937 random(std::random_device {}());
    static QList<quint16> recent; // handed out lately, maybe not bound yet
    static std::mutex lock;
    const std::lock_guard<std::mutex> guard(lock);
    std::uniform_int_distribution<int> pick(ephemeralLow - 12000, ephemeralLow - 1);
    for (int attempt = 0; attempt < 200; ++attempt) {
        const auto port = quint16(pick(random));
        QTcpServer probe;
        if (recent.contains(port) || !probe.listen(QHostAddress::LocalHost, port))
            continue;
        recent.append(port);
        if (recent.size() > 64)
            recent.removeFirst();
        return port;
    }
    QTcpServer probe; // every pick taken: let the kernel choose
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

void ChildProcess::setupChildProcess()
{
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
}

QList<quint16> distinctFreePorts(int n)
{
    QList<quint16> ports;
    while (ports.size() < n) {
        const quint16 port = freePort();
        if (!ports.contains(port))
            ports << port;
    }
    return ports;
}

size_t liveHeapBytes()
{
#if defined(__SANITIZE_ADDRESS__)
    // The runtime adds up per-thread counters that other threads update as
    // it reads them; when the sum of frees overtakes the sum of allocations
    // mid-read, it answers 1 instead of a figure. Such a reading is taken
    // again (the race is rare, so a few tries suffice).
    size_t bytes = __sanitizer_get_current_allocated_bytes();
    for (int tries = 0; bytes <= 1 && tries < 1000; ++tries) {
        QThread::yieldCurrentThread();
        bytes = __sanitizer_get_current_allocated_bytes();
    }
    return bytes;
#else
    return mallinfo2().uordblks;
#endif
}

} // namespace testsupport
