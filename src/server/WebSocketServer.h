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
// deleteLater, those still open at onDestroyAll are deleted there.
//
// TLS 1.2 or later with the compiled-in identity, no client certificate and
// no login. A handshake whose Origin names a host that is not this machine
// is refused; clients that send no Origin (panels, scripts) are served.
#include <QHostAddress>
#include <QJsonObject>
#include <QList>
#include <QObject>
#include <QSslError>
#include <QString>

class QWebSocket;
class QWebSocketCorsAuthenticator;
class QWebSocketServer;

class WebSocketServer : public QObject {
    Q_OBJECT
public:
    static WebSocketServer* instance();

    // Listens on address and g_websocketPort at once. The application's one
    // server is instance(); tests make their own on the loopback address.
    explicit WebSocketServer(const QHostAddress& address = QHostAddress::Any, QObject* parent = nullptr);
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
    void onOriginAuthenticationRequired(QWebSocketCorsAuthenticator* authenticator);
    void dropClient(QWebSocket* socket);
    static void sendJson(QWebSocket* socket, const QJsonObject& json);

    QWebSocketServer* m_server = nullptr; // child
    QList<QWebSocket*> m_clients;
};
