#pragma once
// ChromiumPeer: Debian's chromium as a WebRTC peer, driven through
// playwright-core by tests/webrtc/chromium_peer.mjs: one JSON command out,
// one JSON reply back. Owner: the test or benchmark thread that drives it.
// While it waits for a reply it keeps that thread's events flowing, so the
// windows an in-process controller renders on it keep their rate.
#include "TimeBudget.h"

#include <QCoreApplication>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QString>

#include <chrono>

namespace webrtctest {

class ChromiumPeer {
public:
    // sourceDir: the repository (tests/node_modules holds playwright-core);
    // base: the server's origin the page fetches from, or "about:blank".
    bool start(const QString& sourceDir, const QString& base)
    {
        m_process.setWorkingDirectory(sourceDir + "/tests");
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_process.start("node", { sourceDir + "/tests/webrtc/chromium_peer.mjs", base });
        return next(60000).value("ready").toBool();
    }
    ~ChromiumPeer()
    {
        if (m_process.state() != QProcess::NotRunning) {
            ask({ { "cmd", "quit" } }, 20000);
            if (!m_process.waitForFinished(testsupport::budgetMs(10000)))
                m_process.kill();
        }
    }
    QJsonObject ask(const QJsonObject& command, int timeoutMs = 20000)
    {
        m_process.write(QJsonDocument(command).toJson(QJsonDocument::Compact) + "\n");
        return next(timeoutMs);
    }
    void waitEnded() { m_process.waitForFinished(testsupport::budgetMs(20000)); }

private:
    QJsonObject next(int timeoutMs)
    {
        const auto deadline
            = std::chrono::steady_clock::now() + std::chrono::milliseconds(testsupport::budgetMs(timeoutMs));
        while (!m_process.canReadLine()) {
            if (std::chrono::steady_clock::now() > deadline || m_process.state() == QProcess::NotRunning) {
                qWarning("browser peer: %s",
                    m_process.state() == QProcess::NotRunning
                        ? "ended without a reply"
                        : qPrintable(QString("no reply within %1 ms").arg(testsupport::budgetMs(timeoutMs))));
                return QJsonObject();
            }
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
            if (!m_process.canReadLine())
                m_process.waitForReadyRead(5);
        }
        return QJsonDocument::fromJson(m_process.readLine()).object();
    }
    QProcess m_process;
};

} // namespace webrtctest
