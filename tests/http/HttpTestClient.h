#pragma once
// A raw TLS client for the HTTP server tests: sends bytes as given and
// parses the replies it gets back, so tests can pipeline, send malformed
// requests and watch when the server closes.
#include "TestSupport.h"
#include "http/HttpServer.h"

#include <QList>
#include <QPair>
#include <QSslSocket>
#include <QTcpServer>

#include <http_parser.h>

#include <memory>
#include <ostream>

namespace httptest {

struct Reply {
    int status = 0;
    QList<QPair<QByteArray, QByteArray>> headers;
    QByteArray body;
    QByteArray failure; // set when none came: "no reply within N ms"

    QByteArray header(const QByteArray& name) const
    {
        for (const auto& h : headers) {
            if (h.first.compare(name, Qt::CaseInsensitive) == 0)
                return h.second;
        }
        return QByteArray();
    }
};

class Client {
public:
    Client()
    {
        http_parser_init(&m_parser, HTTP_RESPONSE);
        m_parser.data = this;
        http_parser_settings_init(&m_settings);
        m_settings.on_message_begin = [](http_parser* p) {
            self(p)->m_replies.append(Reply());
            return 0;
        };
        m_settings.on_header_field = [](http_parser* p, const char* at, size_t len) {
            Client* c = self(p);
            auto& headers = c->m_replies.last().headers;
            if (headers.isEmpty() || c->m_inValue)
                headers.append({ QByteArray(), QByteArray() });
            c->m_inValue = false;
            headers.last().first.append(at, int(len));
            return 0;
        };
        m_settings.on_header_value = [](http_parser* p, const char* at, size_t len) {
            Client* c = self(p);
            c->m_replies.last().headers.last().second.append(at, int(len));
            c->m_inValue = true;
            return 0;
        };
        m_settings.on_headers_complete = [](http_parser* p) {
            self(p)->m_replies.last().status = int(p->status_code);
            return 0;
        };
        m_settings.on_body = [](http_parser* p, const char* at, size_t len) {
            self(p)->m_replies.last().body.append(at, int(len));
            return 0;
        };
        m_settings.on_message_complete = [](http_parser* p) {
            ++self(p)->m_complete;
            return 0;
        };
        QObject::connect(&m_socket, &QSslSocket::readyRead, [this] {
            const QByteArray bytes = m_socket.readAll();
            http_parser_execute(&m_parser, &m_settings, bytes.constData(), size_t(bytes.size()));
        });
        m_socket.setPeerVerifyMode(QSslSocket::VerifyNone);
    }

    // from: the local address to connect from (127.0.0.2 and the like are
    // other clients' addresses on loopback); any when null.
    bool connectTo(quint16 port, const QHostAddress& from = QHostAddress())
    {
        m_port = port;
        m_from = from;
        if (!from.isNull() && !m_socket.bind(from))
            return false;
        m_socket.connectToHostEncrypted(QStringLiteral("127.0.0.1"), port);
        return testsupport::waitFor([this] { return m_socket.isEncrypted(); });
    }
    // Opens the connection again when the server has closed it (an idle
    // keep-alive connection is closed after a while; a client then opens a
    // new one, as a browser does). Replies received so far stay counted.
    bool reopenIfClosed()
    {
        if (m_port == 0 || !closed())
            return true;
        while (m_replies.size() > m_complete)
            m_replies.removeLast(); // cut off by the close
        http_parser_init(&m_parser, HTTP_RESPONSE);
        m_parser.data = this;
        return connectTo(m_port, m_from);
    }

    void send(const QByteArray& bytes) { m_socket.write(bytes); }

    // Waits until n whole replies have arrived in all. (A reply the server
    // sent just before closing may still be on its way through TLS when the
    // socket already reads as closed: the wait goes on.)
    bool waitReplies(int n, int ms = 5000)
    {
        return testsupport::waitFor([&] { return m_complete >= n; }, ms);
    }
    bool waitClosed(int ms = 5000)
    {
        return testsupport::waitFor([this] { return m_socket.state() == QAbstractSocket::UnconnectedState; }, ms);
    }
    bool isOpen() const { return m_socket.state() == QAbstractSocket::ConnectedState; }

    // One request, one reply.
    Reply get(const QByteArray& target, const QByteArray& extraHeaders = QByteArray())
    {
        const int before = m_complete;
        send("GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n" + extraHeaders + "\r\n");
        return replyAt(before);
    }

    // Reply number `index` once it is whole; one carrying the failure when it
    // does not come within the budget for ms.
    Reply replyAt(int index, int ms = 5000)
    {
        if (waitReplies(index + 1, ms))
            return m_replies.at(index);
        Reply none;
        none.failure = closed() ? "the server closed the connection without a reply"
                                : "no reply within " + QByteArray::number(testsupport::budgetMs(ms)) + " ms";
        return none;
    }

    const QList<Reply>& replies() const { return m_replies; }
    int completeCount() const { return m_complete; }
    QSslSocket& socket() { return m_socket; }

private:
    static Client* self(http_parser* p) { return static_cast<Client*>(p->data); }
    // Closed, with everything the server sent before it read.
    bool closed()
    {
        if (m_socket.state() != QAbstractSocket::UnconnectedState)
            return false;
        const QByteArray rest = m_socket.readAll();
        if (!rest.isEmpty())
            http_parser_execute(&m_parser, &m_settings, rest.constData(), size_t(rest.size()));
        return true;
    }

    quint16 m_port = 0;
    QHostAddress m_from;
    QSslSocket m_socket;
    http_parser m_parser;
    http_parser_settings m_settings;
    QList<Reply> m_replies;
    int m_complete = 0;
    bool m_inValue = false;
};

// Starts server on a free loopback port (picked by freePort(), then bound by
// the server; retried in the rare case another process took it meanwhile).
inline bool listenOnFreePort(HttpServer& server)
{
    for (int attempt = 0; attempt < 5; ++attempt) {
        if (server.listen(QHostAddress::LocalHost, testsupport::freePort()))
            return true;
    }
    return false;
}

inline void PrintTo(const Reply& reply, std::ostream* os)
{
    if (!reply.failure.isEmpty())
        *os << "(" << reply.failure.constData() << ")";
    else
        *os << reply.status << " \"" << reply.body.toStdString() << '"';
}

} // namespace httptest
