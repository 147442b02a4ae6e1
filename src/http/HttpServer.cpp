#include "HttpServer.h"

#include "DescriptorListener.h"
#include "HttpConnection.h"
#include "TlsStream.h"

#include <QDebug>
#include <QMutexLocker>
#include <QThread>

#include <algorithm>

HttpServer::HttpServer(const HttpServerConfig& config, QObject* parent)
    : QObject(parent)
    , m_config(config)
    , m_mailbox(std::make_shared<HttpLaterReply::Mailbox>())
{
    m_mailbox->server = this;
    m_listener = new DescriptorListener([this](qintptr d) { accept(d); }, this);
}

HttpServer::~HttpServer()
{
    {
        // Later replies still to come are dropped; those posted already go
        // with this object's queued calls.
        QMutexLocker lock(&m_mailbox->mutex);
        m_mailbox->server = nullptr;
    }
    close();
}

bool HttpServer::listen(const QHostAddress& address, int port)
{
    Q_ASSERT(thread() == QThread::currentThread());
    m_listenError.clear();
    if (port < 1 || port > 65535) {
        m_listenError = QStringLiteral("port %1 is outside 1..65535").arg(port);
        qWarning().noquote() << "[http] refusing to listen on port" << port << "(outside 1..65535)";
        return false;
    }
    const TlsIdentity identity = m_config.identityFolder.isEmpty()
        ? TlsIdentity::load(m_config.certificatePath, m_config.privateKeyPath)
        : TlsIdentity::forInstallation(m_config.identityFolder);
    if (!identity.isValid()) {
        m_listenError = identity.error();
        qCritical().noquote() << "[http] TLS identity not loaded, not listening:" << identity.error();
        return false;
    }
    if (!m_tls.build(identity)) {
        m_listenError = m_tls.error();
        qCritical().noquote() << "[http] TLS settings refused, not listening:" << m_tls.error();
        return false;
    }
    if (!m_listener->listenDeep(address, static_cast<quint16>(port), m_config.addressInUseRetryMs)) {
        m_listenError = m_listener->errorString();
        qCritical().noquote() << "[http] listen on" << address.toString() << "port" << port
                              << "failed:" << m_listener->errorString();
        return false;
    }
    return true;
}

bool HttpServer::isListening() const
{
    return m_listener->isListening();
}

quint16 HttpServer::serverPort() const
{
    return m_listener->serverPort();
}

void HttpServer::close()
{
    m_listener->close();
    const std::vector<HttpConnection*> connections = std::move(m_connections);
    m_connections.clear();
    for (HttpConnection* c : connections) {
        c->disconnect(this);
        c->abort();
        c->deleteLater();
    }
}

void HttpServer::accept(qintptr descriptor)
{
    if (static_cast<int>(m_connections.size()) >= std::max(1, m_config.maxConnections))
        evictLongestIdle();
    TlsStream* socket = DescriptorListener::takeTls(descriptor, m_tls, "[http]", nullptr);
    if (!socket)
        return;
    auto* connection = new HttpConnection(socket, m_router, m_config.idleTimeoutMs, m_mailbox, this);
    connect(connection, &HttpConnection::closed, this, &HttpServer::onConnectionClosed);
    m_connections.push_back(connection);
}

void HttpServer::evictLongestIdle()
{
    const auto oldest = std::min_element(m_connections.begin(), m_connections.end(),
        [](const HttpConnection* a, const HttpConnection* b) { return a->lastActivity() < b->lastActivity(); });
    if (oldest == m_connections.end())
        return;
    qDebug().noquote() << "[http] connection limit reached, closing the longest idle connection" << (*oldest)->peer();
    (*oldest)->abort(); // reports closed(), which removes it
}

void HttpServer::onConnectionClosed(HttpConnection* connection)
{
    const auto it = std::find(m_connections.begin(), m_connections.end(), connection);
    if (it != m_connections.end())
        m_connections.erase(it);
    connection->deleteLater();
}
