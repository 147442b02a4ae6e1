#pragma once
// A blocking TLS client on a plain socket, for tests that must control what
// a client does at the TLS level: resume a session, never read, see how the
// server ends the stream. Every call gives up after five seconds.
#include <QByteArray>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <openssl/ssl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace testsupport {

class RawTlsClient {
public:
    // maxVersion: TLS1_2_VERSION or TLS1_3_VERSION. receiveBuffer: the
    // socket's receive buffer in bytes (0 keeps the system's). Without
    // tickets a TLS 1.2 session can only be resumed by its id.
    explicit RawTlsClient(int maxVersion = TLS1_3_VERSION, int receiveBuffer = 0, bool tickets = true)
        : m_receiveBuffer(receiveBuffer)
    {
        m_ctx = SSL_CTX_new(TLS_client_method());
        SSL_CTX_set_max_proto_version(m_ctx, maxVersion);
        if (!tickets)
            SSL_CTX_set_options(m_ctx, SSL_OP_NO_TICKET);
        SSL_CTX_set_session_cache_mode(m_ctx, SSL_SESS_CACHE_CLIENT);
    }
    ~RawTlsClient()
    {
        close();
        SSL_SESSION_free(m_session);
        SSL_CTX_free(m_ctx);
    }

    // Connects and completes the handshake, offering the session of the
    // previous connection when there was one.
    bool connect(quint16 port)
    {
        close();
        m_fd = ::socket(AF_INET, SOCK_STREAM, 0);
        const timeval timeout { 5, 0 };
        if (m_receiveBuffer > 0)
            ::setsockopt(m_fd, SOL_SOCKET, SO_RCVBUF, &m_receiveBuffer, sizeof m_receiveBuffer);
        ::setsockopt(m_fd, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
        ::setsockopt(m_fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
        sockaddr_in address {};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::connect(m_fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
            return false;
        m_ssl = SSL_new(m_ctx);
        SSL_set_fd(m_ssl, m_fd);
        if (m_session)
            SSL_set_session(m_ssl, m_session);
        return SSL_connect(m_ssl) == 1;
    }
    bool resumed() const { return m_ssl && SSL_session_reused(m_ssl) == 1; }

    bool write(const QByteArray& bytes) { return SSL_write(m_ssl, bytes.constData(), bytes.size()) == bytes.size(); }
    // Reads until text has arrived (true) or the stream ends.
    bool readUntil(const QByteArray& text, QByteArray* got = nullptr)
    {
        QByteArray all;
        char buffer[4096];
        while (!all.contains(text)) {
            const int n = SSL_read(m_ssl, buffer, sizeof buffer);
            if (n <= 0)
                break;
            all.append(buffer, n);
        }
        if (got)
            *got = all;
        keepSession();
        return all.contains(text);
    }
    // Reads to the end of the stream; true when the server ended it with
    // close_notify (a clean TLS close), false for a bare end or a timeout.
    bool endsWithCloseNotify()
    {
        char buffer[4096];
        int n;
        while ((n = SSL_read(m_ssl, buffer, sizeof buffer)) > 0) { }
        return SSL_get_error(m_ssl, n) == SSL_ERROR_ZERO_RETURN;
    }

    void close()
    {
        if (m_ssl) {
            keepSession();
            // A session freed without close_notify is taken out of use.
            SSL_shutdown(m_ssl);
            SSL_free(m_ssl);
            m_ssl = nullptr;
        }
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = -1;
    }

private:
    void keepSession()
    {
        // A TLS 1.3 server sends its ticket after the handshake: the session
        // is worth keeping once something has been read.
        SSL_SESSION* session = m_ssl ? SSL_get1_session(m_ssl) : nullptr;
        if (session && SSL_SESSION_is_resumable(session)) {
            SSL_SESSION_free(m_session);
            m_session = session;
        } else {
            SSL_SESSION_free(session);
        }
    }

    SSL_CTX* m_ctx = nullptr;
    SSL* m_ssl = nullptr;
    SSL_SESSION* m_session = nullptr;
    int m_fd = -1;
    int m_receiveBuffer = 0;
};

} // namespace testsupport
