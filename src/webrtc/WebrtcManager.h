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
#include <cstdint>

class WebrtcManager : public QObject {
    Q_OBJECT
public:
    static WebrtcManager* instance();

    void init();
    void destroy();
    // Binds the session to the window; an empty or unknown session id changes nothing.
    void switchWindow(const QString& pro_id, const QString& win_id, const QString& session_id);

    // One H.264 NAL unit (no start code) of the window's encoder; kind 0 = non-IDR
    // slice, 1 = parameter set resent before an IDR, 2 = IDR slice, 3 = SPS, PPS or
    // SEI as it arrives. Called on the encoder's streaming thread; the buffer is not kept.
    void sendVideo(const QString& pro_id, const QString& win_id, const char* data, int length,
        uint32_t timestamp, int kind, int fps);

    bool isRunning() const { return m_running; }

private:
    WebrtcManager() = default;

    std::atomic<bool> m_running{false};
};
