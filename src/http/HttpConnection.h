#pragma once
// One client connection of an HttpServer: TLS socket, request parsing,
// dispatch through the router, and the replies.
//
// Owned by HttpServer (a child of it) and living on its thread. Requests on
// one connection are parsed and answered strictly in order, one at a time,
// each handler running to completion before the next request is looked at;
// a handler that answers later (HttpResponder::later) holds the next request
// back until its reply has been sent.
// The connection never buffers more than one request: a head over the
// server's limit, or a body over its limit, is refused as soon as that is
// known and the connection is closed without reading the rest.
#include "HttpLaterReply.h"
#include "HttpRequest.h"
#include "HttpResponse.h"

#include <QByteArray>
#include <QObject>
#include <QTimer>

#include <http_parser.h>

class HttpRouter;
class TlsStream;

class HttpConnection : public QObject {
    Q_OBJECT
public:
    // Largest request head (request line and header fields) and body taken.
    static constexpr int kMaxHeadBytes = 64 * 1024;
    static constexpr qint64 kMaxBodyBytes = 16 * 1024 * 1024;

    // Takes ownership of socket, which must already carry its descriptor.
    // Later replies are posted through mailbox.
    HttpConnection(TlsStream* socket, const HttpRouter& router, int idleTimeoutMs,
        std::shared_ptr<HttpLaterReply::Mailbox> mailbox, QObject* parent);
    ~HttpConnection() override;

    // Monotonic time (ms) of the last bytes received or reply sent.
    qint64 lastActivity() const { return m_lastActivity; }
    QString peer() const { return m_peer; }

    // Closes at once, dropping anything not yet sent.
    void abort();
    // The later reply to request number request (see HttpLaterReply); one
    // for another request, or a second one, is dropped.
    void sendLater(quint64 request, const HttpResponse& response);

signals:
    // Emitted once, when the connection is over; the server then deletes it.
    void closed(HttpConnection* self);

private:
    void onReadyRead();
    void processInput();
    void answer();
    void send(const HttpResponse& response, bool keepAlive);
    void refuse(int status, const char* why);
    void closeAfterReply();
    void shutdownWhenFlushed();
    qint64 writeBacklog() const;
    void finish();
    void touch();
    static const http_parser_settings& parserSettings();

    static int onMessageBegin(http_parser* p);
    static int onUrl(http_parser* p, const char* at, size_t len);
    static int onHeaderField(http_parser* p, const char* at, size_t len);
    static int onHeaderValue(http_parser* p, const char* at, size_t len);
    static int onHeadersComplete(http_parser* p);
    static int onBody(http_parser* p, const char* at, size_t len);
    static int onMessageComplete(http_parser* p);
    void flushHeader();

    TlsStream* m_socket;
    const HttpRouter& m_router;
    std::shared_ptr<HttpLaterReply::Mailbox> m_mailbox;
    quint64 m_requestNumber = 0; // of the request answered last
    bool m_awaitingLater = false; // its handler answers later
    QString m_peer;
    QTimer m_idleTimer;
    qint64 m_lastActivity = 0;

    http_parser m_parser;
    QByteArray m_input; // received bytes the parser has not consumed yet
    HttpRequest m_request; // the request being parsed
    QByteArray m_rawUrl;
    QByteArray m_field, m_value;
    bool m_inValue = false;
    bool m_keepAlive = false;
    int m_refusal = 0; // status that a parser callback decided to answer with
    const char* m_refusalWhy = "";

    bool m_processing = false;
    bool m_closing = false; // the last reply is written; input is discarded
    bool m_writeShut = false; // our side of the stream is closed
    bool m_finished = false;
};
