#pragma once
// WebrtcManager: the browser preview sessions of the windows.
//
// Owner: function-local static (instance()), first used by start-up, which
// hands it to the controller; the controller starts it in initConfigs and
// stops it in destroy (a repeat does nothing). Tests may make their own on
// an event loop of their own.
// Threads: getSdpJson, removeSession and switchWindow on the HTTPS thread;
// sendVideo on each window encoder's streaming thread; the network thread
// (started by init, joined by destroy) runs the event loop of every
// session's socket, the DTLS timers and the reaping. One timed lock guards
// the session map; nothing slow runs under it except sendVideo's own
// packetizing, so a new session never stalls video: its transport is built
// and its socket registered before the lock is taken.
// A transport's last reference is always dropped on the network thread, or
// after it has ended.
#include <QHostAddress>
#include <QJsonObject>
#include <QMap>
#include <QObject>
#include <QString>

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>

class EventLoop;
class WebRtcTransport;

class WebrtcManager : public QObject {
    Q_OBJECT
public:
    static constexpr int kMaxSessions = 256;
    // A session whose browser sent no authenticated check for longer than
    // this is dropped.
    static constexpr int kSilenceSeconds = 12;
    // A browser checks the offer's candidate at once; a session that has
    // seen no authenticated check this long after its offer is dropped.
    static constexpr int kFirstCheckMs = 5000;
    // Sessions that have not completed ICE and DTLS, per remote address
    // (an IPv6 client counts by its /64): a new offer beyond this ends the
    // oldest of them. Connected sessions never count here.
    static constexpr int kMaxUnconnectedPerAddress = 8;

    static WebrtcManager* instance();
    // loop: the event loop of the sessions' sockets (the process-wide one by default).
    explicit WebrtcManager(EventLoop* loop = nullptr);
    ~WebrtcManager() override;

    void init();
    void destroy();
    bool isRunning() const { return m_running; }

    // A new session of the window with its offer: {"result":"ok","data":
    // {"sdp","session_id"}}; {"result":"error"} and nothing kept when ip is
    // not an IPv4 address, the manager is full or not running, or no socket
    // could be bound. remote: the address the request came from.
    QJsonObject getSdpJson(const QString& pro_id, const QString& win_id, const QString& ip, const QHostAddress& remote);
    // Marks the session for removal; the network thread frees it at once.
    void removeSession(const QString& session_id);
    // Binds the session to the window; an empty or unknown session id changes nothing.
    void switchWindow(const QString& pro_id, const QString& win_id, const QString& session_id);

    // One H.264 NAL unit (no start code) of the window's encoder; kind 0 = non-IDR
    // slice, 1 = parameter set resent before an IDR, 2 = IDR slice, 3 = SPS, PPS or
    // SEI as it arrives. Called on the encoder's streaming thread; the buffer is not kept.
    void sendVideo(const QString& pro_id, const QString& win_id, const char* data, int length, uint32_t timestamp,
        int kind, int fps);
    // Browsers get no audio.
    void sendAudio(const QString&, const QString&, const char*, int, uint32_t) { }

    // What tests and benchmarks read of a session.
    struct SessionView {
        bool exists = false;
        bool alive = false; // not removed, evicted or timed out (it may still await the reaping)
        unsigned short port = 0;
        int64_t lastStunMs = 0;
        bool iceCompleted = false;
        bool dtlsCompleted = false;
        QString pro_id, win_id;
        uint64_t sentPackets = 0;
    };
    SessionView sessionView(const QString& session_id) const;
    int sessionCount() const;
    // Sessions bound to the window: its encoder has somebody to encode for.
    int viewerCount(const QString& pro_id, const QString& win_id) const;
    // NAL units that found the lock taken for 100 ms and went to nobody.
    uint64_t droppedNalUnits() const { return m_droppedUnits; }

signals:
    // A session was bound to the window or left it; viewerCount() tells how
    // many remain. Emitted on the thread that changed the sessions, without the lock.
    void viewersChanged(const QString& pro_id, const QString& win_id);

private:
    struct Session {
        std::shared_ptr<WebRtcTransport> transport;
        QString pro_id;
        QString win_id;
        QString remote; // remoteKey() of the address that asked for the offer
        uint64_t serial = 0; // order of making: the lowest is the oldest
        int64_t madeMs = 0; // steady clock
        // RTP timestamps (90 kHz): of the picture being sent, and of the next one.
        uint32_t pictureTimestamp = 1000;
        uint32_t nextTimestamp = 1000;
        bool alive = true;
        // After a window switch: nothing but parameter sets until an IDR.
        bool waitKeyFrame = false;
    };

    void startDetroyThread();
    void networkLoop();
    void reap();
    QString newSessionId() const;
    // Makes room for one more unconnected session of this remote by ending
    // its oldest one when it already has the most; under m_lock.
    void evictUnconnectedLocked(const QString& remote);
    int aliveCountLocked() const;
    static QString remoteKey(const QHostAddress& address);

    EventLoop* m_loop;
    mutable std::timed_mutex m_lock;
    QMap<QString, Session> m_sessions;
    int m_pending = 0; // sessions being built outside the lock
    uint64_t m_serial = 0;
    std::thread m_thread;
    std::atomic<bool> m_running { false };
    std::atomic<uint64_t> m_droppedUnits { 0 };
    std::atomic<bool> m_sliceLogged { false };
};
