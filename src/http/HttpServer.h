#pragma once
// A small HTTP/1.1 server over TLS.
//
// Owned by whoever serves (the HTTPS route object, which builds it on the
// HTTPS server thread). Everything it does — accepting, parsing, calling
// route handlers, replying — happens on the thread it lives on, one request
// at a time. Plain HTTP is not served: every connection starts with a TLS
// handshake (TLS 1.2 or later, no client certificate).
//
// Limits: a request head over 64 KiB is answered 431 and a body over 16 MiB
// 413, in both cases without reading the rest, and the connection is closed;
// a connection that has not completed a request within the idle timeout is
// closed; at the connection cap the longest-idle connection is closed to make
// room, so a new client is always served.
#include "DescriptorListener.h"
#include "HttpLaterReply.h"
#include "HttpRouter.h"
#include "TlsIdentity.h"
#include "TlsServerContext.h"

#include <QHostAddress>
#include <QObject>

#include <memory>
#include <vector>

class HttpConnection;

struct HttpServerConfig {
    // When set, the installation's own identity kept in this folder
    // (TlsIdentity::forInstallation) and the two paths are not read.
    QString identityFolder;
    QString certificatePath = TlsIdentity::kCertificateResource;
    QString privateKeyPath = TlsIdentity::kKeyResource;
    int idleTimeoutMs = 30000;
    int maxConnections = 512;
    // How long listen() keeps trying a port that is in use.
    int addressInUseRetryMs = DescriptorListener::kAddressInUseRetryMs;
};

class HttpServer : public QObject {
    Q_OBJECT
public:
    explicit HttpServer(const HttpServerConfig& config = HttpServerConfig(), QObject* parent = nullptr);
    ~HttpServer() override;

    // Routes are added before or after listen(); see HttpRouter.
    HttpRouter& router() { return m_router; }

    // Loads the TLS identity and listens. False, with a log line, for a port
    // outside 1..65535, an identity that cannot be loaded (a critical line),
    // or a port that cannot be bound (one in use after trying it again for
    // addressInUseRetryMs); listenError() then says why.
    bool listen(const QHostAddress& address, int port);
    QString listenError() const { return m_listenError; }
    bool isListening() const;
    quint16 serverPort() const;
    // Stops listening and closes every connection.
    void close();

    int connectionCount() const { return static_cast<int>(m_connections.size()); }

private:
    void accept(qintptr descriptor);
    void evictLongestIdle();
    void onConnectionClosed(HttpConnection* connection);

    HttpServerConfig m_config;
    HttpRouter m_router;
    std::shared_ptr<HttpLaterReply::Mailbox> m_mailbox; // later replies come through it
    TlsServerContext m_tls; // one for every connection
    DescriptorListener* m_listener = nullptr; // child
    std::vector<HttpConnection*> m_connections; // children
    QString m_listenError;
};
