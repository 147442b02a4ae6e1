#include "TestSupport.h"

#include "Globals.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QThread>

namespace testsupport {

TempHome::TempHome()
    : m_oldHome(qgetenv("HOME")), m_oldSave(g_savePath), m_oldRes(g_resPath), m_oldCurrent(g_currentPath)
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
        if (t.elapsed() > timeoutMs)
            return pred();
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

} // namespace testsupport
