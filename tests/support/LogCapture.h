#pragma once
// Collects every message the process logs, from any thread, while it lives.
#include <QMutex>
#include <QMutexLocker>
#include <QStringList>
#include <QtGlobal>

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
    static void handler(QtMsgType, const QMessageLogContext&, const QString& text)
    {
        QMutexLocker lock(&s_active->m_mutex);
        s_active->m_lines.append(text);
    }
    static inline LogCapture* s_active = nullptr;
    QtMessageHandler m_previous;
    QMutex m_mutex;
    QStringList m_lines;
};

} // namespace testsupport
