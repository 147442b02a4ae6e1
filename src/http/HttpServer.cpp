#include "HttpServer.h"

#include "HttpConnection.h"

#include <QDebug>
#include <QSslSocket>
#include <QTcpServer>
#include <QThread>

#include <algorithm>
#include <functional>

#include <sys/socket.h>
#include <unistd.h>

namespace {

// Hands every accepted descriptor to the server, so that the socket made
// for it can be a TLS socket from the start.
class DescriptorListener : public QTcpServer {
public:
    DescriptorListener(std::function<void(qintptr)> onAccept, QObject* parent)
        : QTcpServer(parent)
        , m_onAccept(std::move(onAccept))
    {
    }

protected:
    void incomingConnection(qintptr descriptor) override { m_onAccept(descriptor); }

private:
    std::function<void(qintptr)> m_onAccept;
};

} // namespace

HttpServer::HttpServer(const HttpServerConfig& config, QObject* parent)
    : QObject(parent)
    , m_config(config)
{
    m_listener = new DescriptorListener([this](qintptr d) { accept(d); }, this);
}

HttpServer::~HttpServer()
{
    close();
}

bool HttpServer::listen(const QHostAddress& address, int port)
{
    Q_ASSERT(thread() == QThread::currentThread());
    if (port < 1 || port > 65535) {
        qWarning().noquote() << "[http] refusing to listen on port" << port << "(outside 1..65535)";
        return false;
    }
    const TlsIdentity identity = TlsIdentity::load(m_config.certificatePath, m_config.privateKeyPath);
    if (!identity.isValid()) {
        qCritical().noquote() << "[http] TLS identity not loaded, not listening:" << identity.error();
        return false;
    }
    m_tls = identity.serverConfiguration();
    if (!m_listener->listen(address, static_cast<quint16>(port))) {
        qWarning().noquote() << "[http] listen on" << address.toString() << "port" << port
                             << "failed:" << m_listener->errorString();
        return false;
    }
    // The listener's queue of 50 overflows when many browsers (or a flood)
    // connect at once, and the kernel then silently drops their handshakes
    // for seconds; the system's own limit lets the thread catch up instead.
    ::listen(static_cast<int>(m_listener->socketDescriptor()), SOMAXCONN);
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
    auto* socket = new QSslSocket;
    if (!socket->setSocketDescriptor(descriptor)) {
        qWarning().noquote() << "[http] cannot take an accepted connection:" << socket->errorString();
        delete socket;
        ::close(static_cast<int>(descriptor));
        return;
    }
    socket->setSslConfiguration(m_tls);
    auto* connection = new HttpConnection(socket, m_router, m_config.idleTimeoutMs, this);
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
