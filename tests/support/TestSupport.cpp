#include "TestSupport.h"

#include "Globals.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTcpServer>
#include <QThread>

#include <malloc.h>

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
    QElapsedTimer t;
    t.start();
    while (!pred()) {
        if (t.elapsed() > timeoutMs) {
            // One event (a window built on this thread) may have taken the
            // whole time: what arrived meanwhile is still looked at once.
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
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

size_t liveHeapBytes()
{
#if defined(__SANITIZE_ADDRESS__)
    return __sanitizer_get_current_allocated_bytes();
#else
    return mallinfo2().uordblks;
#endif
}

} // namespace testsupport
