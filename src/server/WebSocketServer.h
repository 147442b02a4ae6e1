#pragma once
// WebSocketServer: the secure WebSocket channel on which browsers ask for
// state by "socket_type" and receive every state change the controller
// pushes.
//
// Owner: function-local static, first made by the controller on the GUI
// thread (it listens at once) and then moved, with its listener and every
// client socket, to the controller's worker thread. Thread: the worker
// thread; every slot runs there, one at a time, so the client list needs no
// lock. Other threads reach it only by queued invocation by method name.
// The object owns the client sockets: a disconnected one is released with
// deleteLater, those still open at onDestroyAll are deleted there. It makes
// the TLS stream of each connection itself (a child until encrypted) and
// hands it to the WebSocket listener, which makes the WebSocket on it.
//
// TLS 1.2 or later with the installation's identity, no client certificate
// and no login. A handshake whose Origin names a host that is not this
// machine is refused; clients that send no Origin (panels, scripts) are
// served.
//
// Limits, because no login guards the channel: at most maxClients clients
// (a new one closes the client that has been silent longest, as the HTTPS
// server does), and at most maxUnsentBytes queued for one client: a client
// that does not read its replies or pushes is dropped before it can make
// the process grow.
#include "http/TlsServerContext.h"

#include <QHash>
#include <QHostAddress>
#include <QJsonObject>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QSslError>
#include <QString>

#include <atomic>
#include <functional>

class ClientRequests;
class DescriptorListener;
class TlsStream;
class QWebSocket;
class QWebSocketCorsAuthenticator;
class QWebSocketServer;

class WebSocketServer : public QObject {
    Q_OBJECT
public:
    struct Limits {
        int maxClients = 512;
        qint64 maxUnsentBytes = 8 * 1024 * 1024;
    };

    static WebSocketServer* instance();
    // Who answers the clients and fills the pushes, for every server; set by
    // the application's controller when it is made. Until then nothing is
    // answered or pushed.
    static void setRequests(ClientRequests* requests);

    // Listens on address and g_websocketPort at once. The application's one
    // server is instance(); tests make their own on the loopback address.
    explicit WebSocketServer(const QHostAddress& address = QHostAddress::Any, QObject* parent = nullptr)
        : WebSocketServer(address, Limits(), parent)
    {
    }
    WebSocketServer(const QHostAddress& address, const Limits& limits, QObject* parent = nullptr);
    ~WebSocketServer() override;

    bool isListening() const;
    quint16 serverPort() const;
    int clientCount() const { return m_clients.size(); }

    // Parses and answers one request on socket; type receives its
    // "socket_type". False when the request could not be answered (the
    // caller then sends the error reply).
    bool getResultJson(const QString& message, QString& type, QWebSocket* socket);
    // One message as a JSON object; anything else is the empty object.
    static QJsonObject getJsonFromString(const QString& text);
    // Whether an Origin header value may open a channel here: absent, or
    // naming this machine (one of its addresses or host names).
    static bool isOriginAllowed(const QString& origin);

public slots:
    void onNewConnection();
    void socketDisconnected();
    void onSslErrors(const QList<QSslError>& errors);
    void processTextMessage(const QString& message);

    // Sends json to every connected client.
    void sendMessages(const QJsonObject& json);
    void sendMessages(const QString& type, const QJsonObject& json);

    void sendSourceRequest();
    void sendProgramRequest();
    void sendWindowRequest(QString pro_id);
    void sendPresetRequest(QString pro_id);
    void sendGridRequest(QString pro_id, QString win_id);
    void sendControlRequest(QString pro_id, QString win_id);
    void sendLiveRequest(QString pro_id, QString win_id);
    void sendScreenRequest(QString pro_id, QString win_id);
    void sendTallyRequest(QString pro_id);
    // Closes the server and drops every client; a repeat does nothing.
    void onDestroyAll();

private:
    static std::atomic<ClientRequests*> s_requests;
    void acceptTls(qintptr descriptor);
    void onOriginAuthenticationRequired(QWebSocketCorsAuthenticator* authenticator);
    void dropClient(QWebSocket* socket);
    void dropLongestIdle();
    // Queues text for socket unless what it has not taken yet is over the
    // limit; then the client is dropped instead.
    void send(QWebSocket* socket, const QString& text);
    void sendJson(QWebSocket* socket, const QJsonObject& json);
    // Sends every client the message fill writes, once a controller answers.
    void pushFrom(const std::function<void(ClientRequests&, QJsonObject&)>& fill);

    struct Client {
        QPointer<TlsStream> transport; // the socket's TLS stream, whose buffers hold what is unsent
        qint64 lastMessage = 0; // monotonic ms of connection or of the last message received
    };

    Limits m_limits;
    QWebSocketServer* m_server = nullptr; // child
    DescriptorListener* m_listener = nullptr; // child
    TlsServerContext m_tls; // shared by every connection
    // Encrypted streams given to m_server whose WebSocket handshake is not
    // done: the WebSocket made on one deletes it, and m_server deletes one
    // whose handshake fails; those left at onDestroyAll are deleted there.
    QList<QPointer<TlsStream>> m_handedOver;
    QList<QWebSocket*> m_clients;
    QHash<QWebSocket*, Client> m_state; // the entries of m_clients
};
