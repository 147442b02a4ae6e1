#include "WebSocketServer.h"

#include "ClientRequests.h"
#include "WebSocketFrameGuard.h"
#include "base/ApiReplies.h"
#include "base/Clock.h"
#include "base/Globals.h"
#include "base/ZTLogger.h"
#include "http/DescriptorListener.h"
#include "http/TlsIdentity.h"
#include "http/TlsStream.h"

#include <QDebug>
#include <QHostInfo>
#include <QJsonDocument>
#include <QNetworkInterface>
#include <QThread>
#include <QTimer>
#include <QUrl>
#include <QWebSocket>
#include <QWebSocketCorsAuthenticator>
#include <QWebSocketServer>

namespace {

// No request or command comes near this; a bigger message is refused by the
// socket before it is buffered whole.
constexpr quint64 kMaxIncomingMessage = 1024 * 1024;
// A TLS handshake not done by then is given up; the WebSocket handshake
// after it has the listener's own timeout.
constexpr int kTlsHandshakeMs = 10000;

QString idOf(const QJsonObject& object, const char* key)
{
    return object.value(QLatin1String(key)).toString();
}

} // namespace

std::atomic<ClientRequests*> WebSocketServer::s_requests { nullptr };

void WebSocketServer::setRequests(ClientRequests* requests)
{
    s_requests = requests;
}

WebSocketServer* WebSocketServer::instance()
{
    static WebSocketServer server;
    return &server;
}

WebSocketServer::WebSocketServer(const QHostAddress& address, const Limits& limits, QObject* parent)
    : QObject(parent)
    , m_limits(limits)
    , m_server(new QWebSocketServer(QStringLiteral("SSL Echo Server"), QWebSocketServer::NonSecureMode, this))
    , m_listener(new DescriptorListener([this](qintptr d) { acceptTls(d); }, this))
{
    // The browser connects from the page this machine served; a page of
    // another site must not be able to drive the channel from the operator's
    // browser, so the Origin is checked before the handshake completes.
    connect(m_server, &QWebSocketServer::originAuthenticationRequired, this,
        &WebSocketServer::onOriginAuthenticationRequired);

    // Without a listening socket the application runs on without the
    // channel: every failure is an error in the log.
    const TlsIdentity identity = TlsIdentity::forInstallation(g_savePath);
    if (!identity.isValid()) {
        qCritical().noquote() << "[websocket] TLS identity not loaded, not listening on port" << g_websocketPort << ":"
                              << identity.error();
        return;
    }
    if (!m_tls.build(identity)) {
        qCritical().noquote() << "[websocket] TLS settings refused, not listening on port" << g_websocketPort << ":"
                              << m_tls.error();
        return;
    }
    if (g_websocketPort < 1 || g_websocketPort > 65535) {
        qCritical().noquote() << "[websocket] not listening: port" << g_websocketPort << "is outside 1..65535";
        return;
    }
    if (!m_listener->listenDeep(address, static_cast<quint16>(g_websocketPort))) {
        qCritical().noquote() << "[websocket] listen on" << address.toString() << "port" << g_websocketPort
                              << "failed:" << m_listener->errorString();
        return;
    }
    connect(m_server, &QWebSocketServer::newConnection, this, &WebSocketServer::onNewConnection);
}

void WebSocketServer::acceptTls(qintptr descriptor)
{
    // The TLS layer is ours and the WebSocket layer the listener's: the
    // listener gets each stream once it is encrypted, and this object keeps
    // hold of the stream, whose buffers tell what a client has not taken.
    TlsStream* tls = DescriptorListener::takeTls(descriptor, m_tls, "[websocket]", this);
    if (!tls)
        return;
    // The WebSocket layer reads a frame only once all of it is there.
    tls->setMaxPlainBacklog(int(kMaxIncomingMessage) + 64 * 1024);
    // A frame or message over the cap is refused here, from its head: the
    // WebSocket layer would take in its payload first, and its own refusal
    // closes the stream under it while it goes on reading.
    tls->setInputGuard(
        [guard = WebSocketFrameGuard(kMaxIncomingMessage), tls](const char* data, qint64 size) mutable {
            if (guard.take(data, size))
                return true;
            qWarning().noquote() << "[websocket] closing" << tls->peerAddress().toString() << tls->peerPort()
                                 << "- a frame of" << guard.refusedLength()
                                 << "bytes takes a frame or message over the cap of" << kMaxIncomingMessage;
            return false;
        },
        WebSocketFrameGuard::closeTooBigFrame());
    connect(tls, &TlsStream::encrypted, this, [this, tls] {
        tls->disconnect(this);
        // From here on the WebSocket made on it, or the listener when the
        // WebSocket handshake fails, deletes it.
        tls->setParent(nullptr);
        m_handedOver.removeAll(nullptr);
        m_handedOver.append(tls);
        m_server->handleConnection(tls);
    });
    const auto fail = [tls] {
        tls->disconnect();
        tls->abort();
        tls->deleteLater();
    };
    connect(tls, &QAbstractSocket::errorOccurred, this, fail);
    connect(tls, &QAbstractSocket::disconnected, this, fail);
    QTimer::singleShot(kTlsHandshakeMs, tls, [tls, fail] {
        if (!tls->isEncrypted())
            fail();
    });
}

WebSocketServer::~WebSocketServer()
{
    onDestroyAll();
}

bool WebSocketServer::isListening() const
{
    return m_server && m_listener->isListening();
}

quint16 WebSocketServer::serverPort() const
{
    return m_server ? m_listener->serverPort() : 0;
}

bool WebSocketServer::isOriginAllowed(const QString& origin)
{
    if (origin.isEmpty())
        return true;
    const QString host = QUrl(origin).host();
    if (host.isEmpty())
        return false; // "null" (a local file) or text that is no origin
    const QHostAddress address(host);
    if (!address.isNull()) {
        if (address.isLoopback())
            return true;
        const QList<QHostAddress> local = QNetworkInterface::allAddresses();
        return std::any_of(local.begin(), local.end(),
            [&](const QHostAddress& a) { return a.isEqual(address, QHostAddress::TolerantConversion); });
    }
    const QString name = QHostInfo::localHostName();
    const QString domain = QHostInfo::localDomainName();
    return host.compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0
        || host.compare(name, Qt::CaseInsensitive) == 0
        || (!domain.isEmpty() && host.compare(name + QLatin1Char('.') + domain, Qt::CaseInsensitive) == 0);
}

void WebSocketServer::onOriginAuthenticationRequired(QWebSocketCorsAuthenticator* authenticator)
{
    const bool allowed = isOriginAllowed(authenticator->origin());
    if (!allowed)
        qWarning().noquote() << "[websocket] refused a handshake from origin" << authenticator->origin();
    authenticator->setAllowed(allowed);
}

void WebSocketServer::onNewConnection()
{
    if (!m_server)
        return;
    while (QWebSocket* socket = m_server->nextPendingConnection()) {
        socket->setMaxAllowedIncomingFrameSize(kMaxIncomingMessage);
        socket->setMaxAllowedIncomingMessageSize(kMaxIncomingMessage);
        connect(socket, &QWebSocket::textMessageReceived, this, &WebSocketServer::processTextMessage);
        connect(socket, &QWebSocket::disconnected, this, &WebSocketServer::socketDisconnected);
        connect(socket, qOverload<QAbstractSocket::SocketError>(&QWebSocket::error), this,
            [this, socket](QAbstractSocket::SocketError error) {
                qDebug() << "There is a socket error occur." << error;
                dropClient(socket);
            });
        if (m_clients.size() >= std::max(1, m_limits.maxClients))
            dropLongestIdle();
        m_clients.append(socket);
        // The WebSocket speaks over one of the streams handed over, the one
        // with its peer's address and port.
        QPointer<TlsStream> transport;
        for (const QPointer<TlsStream>& tls : qAsConst(m_handedOver)) {
            if (tls && tls->peerPort() == socket->peerPort() && tls->peerAddress() == socket->peerAddress())
                transport = tls;
        }
        m_handedOver.removeAll(transport);
        m_state.insert(socket, Client { transport, monotonicMs() });
    }
}

void WebSocketServer::dropLongestIdle()
{
    const auto oldest = std::min_element(m_clients.begin(), m_clients.end(),
        [this](QWebSocket* a, QWebSocket* b) { return m_state[a].lastMessage < m_state[b].lastMessage; });
    if (oldest == m_clients.end())
        return;
    QWebSocket* socket = *oldest;
    qWarning().noquote() << "[websocket] client limit" << m_limits.maxClients
                         << "reached, closing the client silent longest:" << socket->peerAddress().toString()
                         << socket->peerPort();
    dropClient(socket);
}

void WebSocketServer::socketDisconnected()
{
    if (auto* socket = qobject_cast<QWebSocket*>(sender()))
        dropClient(socket);
}

void WebSocketServer::dropClient(QWebSocket* socket)
{
    // An error is usually followed by the disconnection: the second call
    // finds nothing and must not delete the socket twice.
    if (m_clients.removeAll(socket) > 0) {
        // The WebSocket does not own its stream but uses it as it goes: the
        // stream is released after it.
        const QPointer<TlsStream> transport = m_state.take(socket).transport;
        socket->deleteLater(); // which closes it
        if (transport)
            transport->deleteLater();
    }
}

void WebSocketServer::onSslErrors(const QList<QSslError>& errors)
{
    // A client never shows a certificate, so there is nothing to judge here;
    // the handshake itself decides.
    Q_UNUSED(errors)
}

void WebSocketServer::onDestroyAll()
{
    // Sockets go at once, not with deleteLater: this runs last on the
    // worker (or from the destructor after it), and a deferred delete posted
    // now may find no event loop left to run it, leaving the socket and its
    // TLS state behind. It never runs inside a socket's own signal.
    if (m_server) {
        qDebug() << "WebSocketServer::onDestroyAll";
        // Handshakes done but not yet taken by onNewConnection.
        while (QWebSocket* pending = m_server->nextPendingConnection())
            delete pending;
        m_server->close();
        delete m_server;
        m_server = nullptr;
        m_listener->close();
    }
    const QList<QWebSocket*> clients = std::exchange(m_clients, {});
    for (QWebSocket* socket : clients) {
        if (socket) {
            socket->disconnect(this);
            const QPointer<TlsStream> transport = m_state.value(socket).transport;
            delete socket;
            delete transport.data();
        }
    }
    m_state.clear();
    // Streams still in their TLS handshake are children; those in their
    // WebSocket handshake are left by the listener.
    for (TlsStream* tls : findChildren<TlsStream*>(QString(), Qt::FindDirectChildrenOnly)) {
        tls->disconnect();
        delete tls;
    }
    for (const QPointer<TlsStream>& tls : std::exchange(m_handedOver, {}))
        delete tls.data();
}

QJsonObject WebSocketServer::getJsonFromString(const QString& text)
{
    if (text.isEmpty())
        return QJsonObject();
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(text.toUtf8(), &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return QJsonObject();
    return document.object();
}

void WebSocketServer::processTextMessage(const QString& message)
{
    auto* socket = qobject_cast<QWebSocket*>(sender());
    if (!socket) {
        qDebug() << "webcosket client is invalid.";
        return;
    }
    const auto state = m_state.find(socket);
    if (state != m_state.end())
        state->lastMessage = monotonicMs();
    QString type;
    if (!getResultJson(message, type, socket)) {
        QJsonObject refused = apireply::error();
        refused.insert("socket_type", type);
        sendJson(socket, refused);
    }
}

bool WebSocketServer::getResultJson(const QString& message, QString& type, QWebSocket* socket)
{
    const QJsonObject request = getJsonFromString(message);
    if (!request.contains(QLatin1String("socket_type")))
        return false;
    type = request.value(QLatin1String("socket_type")).toString();

    // Which ids a type needs, and where they are: under "data" (with or
    // without a window id) or at the root.
    enum Ids { NoIds, DataProgram, DataWindow, RootProgram };
    static const QList<QPair<QString, Ids>> kTypes {
        { "program", NoIds },
        { "window", DataProgram },
        { "live", DataWindow },
        { "grid", DataWindow },
        { "preset", DataProgram },
        { "tool_control", DataWindow },
        { "source", NoIds },
        { "tally", RootProgram },
        { "ptz_set", RootProgram },
        { "take_set", RootProgram },
        { "window_set_source", NoIds },
    };
    const auto row = std::find_if(kTypes.begin(), kTypes.end(), [&](const auto& t) { return t.first == type; });
    if (row == kTypes.end())
        return false;

    if (type == QLatin1String("ptz_set") || type == QLatin1String("take_set")
        || type == QLatin1String("window_set_source"))
        qDebug().noquote() << "websocket" << type
                           << ZTLogger::clipped(QJsonDocument(request).toJson(QJsonDocument::Compact));

    QString pro_id, win_id;
    switch (row->second) {
    case NoIds:
        break;
    case DataProgram:
    case DataWindow: {
        if (!request.contains(QLatin1String("data")))
            return false;
        const QJsonObject data = request.value(QLatin1String("data")).toObject();
        if (!data.contains(QLatin1String("pro_id")))
            return false;
        if (row->second == DataWindow && !data.contains(QLatin1String("win_id")))
            return false;
        pro_id = idOf(data, "pro_id");
        win_id = idOf(data, "win_id");
        break;
    }
    case RootProgram:
        if (!request.contains(QLatin1String("pro_id")))
            return false;
        pro_id = idOf(request, "pro_id");
        break;
    }

    ClientRequests* controller = s_requests;
    if (!controller)
        return false;
    QJsonObject reply;
    if (type == QLatin1String("program"))
        controller->getProgramRequest(reply);
    else if (type == QLatin1String("window"))
        controller->getWindowRequest(reply, pro_id);
    else if (type == QLatin1String("live"))
        controller->getLiveRequest(reply, pro_id, win_id);
    else if (type == QLatin1String("grid"))
        controller->getGridRequest(reply, pro_id, win_id);
    else if (type == QLatin1String("preset"))
        controller->getPresetRequest(reply, pro_id);
    else if (type == QLatin1String("tool_control"))
        controller->getControlRequest(reply, pro_id, win_id);
    else if (type == QLatin1String("source"))
        controller->getSourceGroups(reply);
    else if (type == QLatin1String("tally"))
        controller->getTallyStates(pro_id, reply);
    else if (type == QLatin1String("ptz_set"))
        controller->setPtzStates(pro_id, request, reply);
    else if (type == QLatin1String("take_set"))
        controller->setTakeStates(pro_id, request, reply);
    else
        controller->switchSource(request, reply);
    sendJson(socket, reply);
    return true;
}

void WebSocketServer::sendJson(QWebSocket* socket, const QJsonObject& json)
{
    send(socket, QString::fromUtf8(QJsonDocument(json).toJson(QJsonDocument::Indented)));
}

void WebSocketServer::send(QWebSocket* socket, const QString& text)
{
    const auto state = m_state.constFind(socket);
    if (state == m_state.constEnd())
        return; // dropped already: nothing more is queued for it
    const TlsStream* transport = state->transport;
    const qint64 unsent = transport ? transport->bytesToWrite() : 0;
    if (unsent > m_limits.maxUnsentBytes) {
        qWarning().noquote() << "[websocket] dropping" << socket->peerAddress().toString() << socket->peerPort() << "-"
                             << unsent << "bytes unsent: the client does not read what it is sent";
        dropClient(socket);
        return;
    }
    socket->sendTextMessage(text);
}

void WebSocketServer::sendMessages(const QJsonObject& json)
{
    const QString text = QString::fromUtf8(QJsonDocument(json).toJson(QJsonDocument::Indented));
    // A client whose send fails is dropped from m_clients while this runs;
    // walking a copy reaches every other client exactly once.
    const QList<QWebSocket*> clients = m_clients;
    for (QWebSocket* socket : clients) {
        if (socket)
            send(socket, text);
    }
}

void WebSocketServer::sendMessages(const QString& type, const QJsonObject& json)
{
    QJsonObject message = json;
    message.insert(QStringLiteral("socket_type"), type);
    sendMessages(message);
}

void WebSocketServer::pushFrom(const std::function<void(ClientRequests&, QJsonObject&)>& fill)
{
    ClientRequests* controller = s_requests;
    if (!controller)
        return;
    QJsonObject json;
    fill(*controller, json);
    sendMessages(json);
}

void WebSocketServer::sendSourceRequest()
{
    pushFrom([&](ClientRequests& c, QJsonObject& json) { c.getSourceGroups(json); });
}

void WebSocketServer::sendProgramRequest()
{
    qDebug() << "sendProgramRequest " << QThread::currentThreadId();
    pushFrom([&](ClientRequests& c, QJsonObject& json) { c.getProgramRequest(json); });
}

void WebSocketServer::sendWindowRequest(QString pro_id)
{
    pushFrom([&](ClientRequests& c, QJsonObject& json) { c.getWindowRequest(json, pro_id); });
}

void WebSocketServer::sendPresetRequest(QString pro_id)
{
    pushFrom([&](ClientRequests& c, QJsonObject& json) { c.getPresetRequest(json, pro_id); });
}

void WebSocketServer::sendGridRequest(QString pro_id, QString win_id)
{
    pushFrom([&](ClientRequests& c, QJsonObject& json) { c.getGridRequest(json, pro_id, win_id); });
}

void WebSocketServer::sendControlRequest(QString pro_id, QString win_id)
{
    pushFrom([&](ClientRequests& c, QJsonObject& json) { c.getControlRequest(json, pro_id, win_id); });
}

void WebSocketServer::sendLiveRequest(QString pro_id, QString win_id)
{
    pushFrom([&](ClientRequests& c, QJsonObject& json) {
        c.getLiveRequest(json, pro_id, win_id);
        qDebug() << "[sendLiveRequest] json :" << json;
    });
}

void WebSocketServer::sendScreenRequest(QString pro_id, QString win_id)
{
    pushFrom([&](ClientRequests& c, QJsonObject& json) { c.getScreenRequest(json, pro_id, win_id); });
}

void WebSocketServer::sendTallyRequest(QString pro_id)
{
    pushFrom([&](ClientRequests& c, QJsonObject& json) { c.getTallyStates(pro_id, json); });
}
