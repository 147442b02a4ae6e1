#pragma once
// WebrtcManager: the browser preview sessions of the windows.
//
// Owner: function-local static, first used by start-up, which hands it to the
// controller; the controller starts it in initConfigs and stops it in destroy.
// Thread: init and destroy run on the GUI thread, switchWindow on the HTTPS
// thread (the request layer).
#include <QObject>
#include <QString>

#include <atomic>

class WebrtcManager : public QObject {
    Q_OBJECT
public:
    static WebrtcManager* instance();

    void init();
    void destroy();
    // Binds the session to the window; an empty or unknown session id changes nothing.
    void switchWindow(const QString& pro_id, const QString& win_id, const QString& session_id);

    bool isRunning() const { return m_running; }

private:
    WebrtcManager() = default;

    std::atomic<bool> m_running{false};
};
