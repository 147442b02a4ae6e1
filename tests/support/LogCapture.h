#pragma once
// Collects every message the process logs, from any thread, while it lives.
#include <QMutex>
#include <QMutexLocker>
#include <QStringList>
#include <QtGlobal>

#include <atomic>

namespace testsupport {

class LogCapture {
public:
    LogCapture()
    {
        s_active = this;
        m_previous = qInstallMessageHandler(&LogCapture::handler);
    }
    ~LogCapture()
    {
        qInstallMessageHandler(m_previous);
        s_active = nullptr;
    }
    QStringList lines()
    {
        QMutexLocker lock(&m_mutex);
        return m_lines;
    }
    bool contains(const QString& text)
    {
        for (const QString& line : lines())
            if (line.contains(text))
                return true;
        return false;
    }

private:
    // Another thread may log while the capture is made or goes: it reads
    // the capture once, and a message after the end is not kept.
    static void handler(QtMsgType, const QMessageLogContext&, const QString& text)
    {
        LogCapture* capture = s_active.load();
        if (!capture)
            return;
        QMutexLocker lock(&capture->m_mutex);
        capture->m_lines.append(text);
    }
    static inline std::atomic<LogCapture*> s_active { nullptr };
    QtMessageHandler m_previous;
    QMutex m_mutex;
    QStringList m_lines;
};

} // namespace testsupport
