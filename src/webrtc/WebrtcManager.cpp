#include "WebrtcManager.h"

#include "base/ApiReplies.h"
#include "base/Clock.h"

#include "webrtc_transport/Crypto.h"
#include "webrtc_transport/DtlsSocketContext.h"
#include "webrtc_transport/EventLoop.h"
#include "webrtc_transport/WebRtcTransport.h"

#include <QDebug>
#include <QPair>
#include <QSet>

#include <arpa/inet.h>
#include <pthread.h>

#include <chrono>
#include <vector>

namespace {

// first_mb_in_slice, the first ue(v) of a slice header (H.264 §7.3.3), read
// past the NAL header byte with emulation-prevention bytes removed; -1 when
// the unit is too short to tell.
int firstMbInSlice(const char* data, int length)
{
    uint8_t rbsp[8];
    int n = 0, zeros = 0;
    for (int i = 1; i < length && n < int(sizeof rbsp); ++i) {
        const uint8_t b = uint8_t(data[i]);
        if (zeros >= 2 && b == 3) {
            zeros = 0;
            continue;
        }
        zeros = b == 0 ? zeros + 1 : 0;
        rbsp[n++] = b;
    }
    int bit = 0;
    auto readBit = [&]() -> int {
        if (bit >= n * 8)
            return -1;
        const int v = (rbsp[bit / 8] >> (7 - bit % 8)) & 1;
        ++bit;
        return v;
    };
    int leadingZeros = 0;
    for (;;) {
        const int b = readBit();
        if (b < 0 || leadingZeros > 30)
            return -1;
        if (b == 1)
            break;
        ++leadingZeros;
    }
    long value = 0;
    for (int i = 0; i < leadingZeros; ++i) {
        const int b = readBit();
        if (b < 0)
            return -1;
        value = (value << 1) | b;
    }
    return int((1L << leadingZeros) - 1 + value);
}

} // namespace

WebrtcManager* WebrtcManager::instance()
{
    static WebrtcManager manager;
    return &manager;
}

WebrtcManager::WebrtcManager(EventLoop* loop)
    : m_loop(loop ? loop : &acceptLoop)
{
}

WebrtcManager::~WebrtcManager()
{
    destroy();
    // The network thread has ended: the transports may go on this thread.
    std::lock_guard<std::timed_mutex> lock(m_lock);
    m_sessions.clear();
}

void WebrtcManager::init()
{
    Utils::Crypto::ClassInit();
    if (!dtls::DtlsSocketContext::Init())
        qWarning() << "WebRTC: no DTLS certificate; browser sessions cannot complete";
    if (m_running.exchange(true))
        return;
    startDetroyThread();
}

void WebrtcManager::startDetroyThread()
{
    m_thread = std::thread([this] { networkLoop(); });
    std::lock_guard<std::timed_mutex> lock(m_lock);
    for (auto it = m_sessions.begin(); it != m_sessions.end(); ++it)
        qDebug() << (it->transport ? "#3 del session " : "#4 del session ") << it.key();
    // Left from an earlier run; dropped on the network thread by reap().
    for (Session& s : m_sessions)
        s.alive = false;
}

void WebrtcManager::destroy()
{
    m_running = false;
    m_loop->quit();
    if (m_thread.joinable())
        m_thread.join();
}

void WebrtcManager::networkLoop()
{
    pthread_setname_np(pthread_self(), "webrtc-net");
    while (m_running) {
        // Without a session nothing times out or needs a retransmission:
        // sleep until a socket event or a wake (a new offer, destroy()).
        m_loop->loop(sessionCount() == 0 ? -1 : 100);
        reap();
    }
}

void WebrtcManager::reap()
{
    const int64_t now = monotonicSeconds();
    const int64_t nowMs = monotonicMs();
    std::vector<std::shared_ptr<WebRtcTransport>> live;
    std::vector<std::shared_ptr<WebRtcTransport>> dropped;
    QSet<QPair<QString, QString>> left;
    {
        std::lock_guard<std::timed_mutex> lock(m_lock);
        for (auto it = m_sessions.begin(); it != m_sessions.end();) {
            if (!it->transport) {
                qDebug() << "#2 del session " << it.key();
                left.insert({ it->pro_id, it->win_id });
                it = m_sessions.erase(it);
                continue;
            }
            const bool neverChecked = !it->transport->IceCompleted() && nowMs - it->madeMs > kFirstCheckMs;
            if (!it->alive || it->transport->IsClosed() || now > it->transport->LastStunTime() + kSilenceSeconds
                || neverChecked) {
                qDebug() << "#1 del session " << it.key();
                left.insert({ it->pro_id, it->win_id });
                dropped.push_back(std::move(it->transport));
                it = m_sessions.erase(it);
                continue;
            }
            live.push_back(it->transport);
            ++it;
        }
    }
    // Outside the lock: DTLS retransmissions and the closing of dropped
    // sockets never hold up an encoder.
    for (const auto& transport : live)
        transport->OnTimer();
    for (const auto& window : left)
        emit viewersChanged(window.first, window.second);
}

QString WebrtcManager::newSessionId() const
{
    // Random below 2^53 (exact in a JavaScript number): an id cannot be
    // guessed, so removing a session needs no token.
    for (;;) {
        QString id = QString::number(1 + Utils::Crypto::GetRandomBelow((uint64_t(1) << 53) - 1));
        if (!m_sessions.contains(id))
            return id;
    }
}

QString WebrtcManager::remoteKey(const QHostAddress& address)
{
    bool v4 = false;
    const quint32 ipv4 = address.toIPv4Address(&v4);
    if (v4)
        return QHostAddress(ipv4).toString();
    // One IPv6 client is given a whole /64: counting its single addresses
    // would let it step around the limit.
    Q_IPV6ADDR bytes = address.toIPv6Address();
    for (int i = 8; i < 16; ++i)
        bytes[i] = 0;
    return QHostAddress(bytes).toString() + QStringLiteral("/64");
}

int WebrtcManager::aliveCountLocked() const
{
    int n = 0;
    for (const Session& s : m_sessions)
        n += s.alive && s.transport ? 1 : 0;
    return n;
}

void WebrtcManager::evictUnconnectedLocked(const QString& remote)
{
    int unconnected = 0;
    auto oldest = m_sessions.end();
    for (auto it = m_sessions.begin(); it != m_sessions.end(); ++it) {
        if (!it->alive || !it->transport || it->remote != remote || it->transport->DtlsCompleted())
            continue;
        ++unconnected;
        if (oldest == m_sessions.end() || it->serial < oldest->serial)
            oldest = it;
    }
    if (unconnected < kMaxUnconnectedPerAddress)
        return;
    // Reaped on the network thread like a removed session.
    qDebug() << "webrtc session" << oldest.key() << "ends: already" << unconnected << "unconnected sessions from"
             << remote;
    oldest->alive = false;
    m_loop->wakeup();
}

QJsonObject WebrtcManager::getSdpJson(
    const QString& pro_id, const QString& win_id, const QString& ip, const QHostAddress& remote)
{
    in_addr parsed {};
    const QByteArray ipText = ip.toUtf8();
    if (inet_pton(AF_INET, ipText.constData(), &parsed) != 1) {
        qDebug() << "get_sdp refused: ip is not an IPv4 address:" << ip.left(64);
        return apireply::error();
    }
    if (!m_running) {
        qDebug() << "get_sdp refused: the WebRTC manager is not running";
        return apireply::error();
    }
    const QString remoteText = remoteKey(remote);
    {
        std::lock_guard<std::timed_mutex> lock(m_lock);
        evictUnconnectedLocked(remoteText);
        // Ended sessions wait for the next pass only to be freed: they hold
        // no place.
        if (aliveCountLocked() + m_pending >= kMaxSessions) {
            qDebug() << "get_sdp refused: already" << kMaxSessions << "sessions";
            return apireply::error();
        }
        ++m_pending;
    }
    // Built outside the lock: binding and registering a socket never makes
    // an encoder wait.
    auto transport = std::make_shared<WebRtcTransport>(m_loop, 0);
    const bool bound = transport->Start();
    const std::string sdp
        = bound ? transport->GetLocalSdp("", "", 8000, 1, "H264", "sendonly", 0, ipText.toStdString()) : std::string();

    QString id;
    {
        std::lock_guard<std::timed_mutex> lock(m_lock);
        --m_pending;
        if (!bound) {
            qDebug() << "get_sdp refused: no UDP socket could be bound";
            return apireply::error(); // never registered: safe to drop on this thread
        }
        id = newSessionId();
        Session session;
        session.transport = std::move(transport);
        session.pro_id = pro_id;
        session.win_id = win_id;
        session.remote = remoteText;
        session.serial = ++m_serial;
        session.madeMs = monotonicMs();
        m_sessions.insert(id, session);
        qDebug() << "webrtc session" << id << "for" << pro_id << win_id << "on port"
                 << m_sessions.value(id).transport->LocalPort();
    }
    // The network thread may sleep without a timeout while it has no session.
    m_loop->wakeup();
    emit viewersChanged(pro_id, win_id);
    return apireply::ok(QJsonObject { { "sdp", QString::fromStdString(sdp) }, { "session_id", id } });
}

void WebrtcManager::removeSession(const QString& session_id)
{
    QString pro_id, win_id;
    {
        std::lock_guard<std::timed_mutex> lock(m_lock);
        const auto it = m_sessions.find(session_id);
        if (it == m_sessions.end())
            return;
        it->alive = false;
        pro_id = it->pro_id;
        win_id = it->win_id;
    }
    m_loop->wakeup();
    emit viewersChanged(pro_id, win_id);
}

void WebrtcManager::switchWindow(const QString& pro_id, const QString& win_id, const QString& session_id)
{
    qDebug() << "switchWindow" << pro_id << win_id << session_id;
    QString oldPro, oldWin;
    bool switched = false;
    {
        std::lock_guard<std::timed_mutex> lock(m_lock);
        const auto it = session_id.isEmpty() ? m_sessions.end() : m_sessions.find(session_id);
        if (it != m_sessions.end()) {
            switched = true;
            oldPro = it->pro_id;
            oldWin = it->win_id;
            it->pro_id = pro_id;
            it->win_id = win_id;
            it->alive = true;
            it->waitKeyFrame = true; // this session only: other viewers keep their P-frames
        }
    }
    if (switched) {
        emit viewersChanged(oldPro, oldWin);
        emit viewersChanged(pro_id, win_id);
    }
    qDebug() << "switchWindow done" << pro_id << win_id << session_id;
}

void WebrtcManager::sendVideo(
    const QString& pro_id, const QString& win_id, const char* data, int length, uint32_t, int kind, int fps)
{
    if (!data || length <= 0)
        return;
    std::unique_lock<std::timed_mutex> lock(m_lock, std::chrono::milliseconds(100));
    if (!lock.owns_lock()) {
        ++m_droppedUnits;
        return;
    }
    if (fps < 1)
        fps = 25;
    const uint32_t step = uint32_t(90000 / fps);
    const bool slice = kind == 0 || kind == 2;
    // RFC 6184 §5.1: one timestamp per picture. A slice that does not start
    // at macroblock 0 continues the picture before it.
    bool newPicture = true;
    if (slice && firstMbInSlice(data, length) > 0) {
        newPicture = false;
        if (!m_sliceLogged.exchange(true))
            qDebug() << "H.264 picture in several slices: later slices keep their picture's timestamp";
    }
    for (Session& s : m_sessions) {
        if (!s.transport || s.pro_id != pro_id || s.win_id != win_id)
            continue;
        if (slice && newPicture) {
            s.pictureTimestamp = s.nextTimestamp;
            s.nextTimestamp += step;
        }
        bool send = true;
        if (s.waitKeyFrame) {
            // The parameter sets resent before the IDR must reach a session
            // that waits for it: the new window may have another size.
            send = kind == 1 || kind == 2;
            if (kind == 2)
                s.waitKeyFrame = false;
        }
        if (send)
            s.transport->SendH264Frame(data, length, slice ? s.pictureTimestamp : s.nextTimestamp);
    }
}

WebrtcManager::SessionView WebrtcManager::sessionView(const QString& session_id) const
{
    SessionView view;
    std::lock_guard<std::timed_mutex> lock(m_lock);
    const auto it = m_sessions.find(session_id);
    if (it == m_sessions.end() || !it->transport)
        return view;
    view.exists = true;
    view.alive = it->alive;
    view.port = it->transport->LocalPort();
    view.lastStunMs = it->transport->LastStunMs();
    view.iceCompleted = it->transport->IceCompleted();
    view.dtlsCompleted = it->transport->DtlsCompleted();
    view.pro_id = it->pro_id;
    view.win_id = it->win_id;
    view.sentPackets = it->transport->SentPackets();
    return view;
}

int WebrtcManager::sessionCount() const
{
    std::lock_guard<std::timed_mutex> lock(m_lock);
    return m_sessions.size();
}

int WebrtcManager::viewerCount(const QString& pro_id, const QString& win_id) const
{
    std::lock_guard<std::timed_mutex> lock(m_lock);
    int count = 0;
    for (const Session& s : m_sessions)
        if (s.transport && s.alive && s.pro_id == pro_id && s.win_id == win_id)
            ++count;
    return count;
}
