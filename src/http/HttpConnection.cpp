#include "HttpConnection.h"

#include "base/Clock.h"

#include "HttpResponder.h"
#include "HttpRouter.h"
#include "TlsStream.h"

#include <QDebug>
#include <QScopedValueRollback>

#include <climits>
#include <exception>

// Design note. Bytes are fed to the parser as they arrive; the parser is
// paused at the end of every request, so a request is answered before the
// bytes of the next one (pipelined behind it) are looked at. The raw input
// is read in bounded slices and not read at all while the replies already
// written have not drained, so neither a flood of pipelined requests nor a
// client that never reads makes memory grow. Once the last reply is written
// the connection stops taking requests, sends it, closes its sending side
// and throws away whatever the client still sends until the client closes
// (or the idle timer ends it): closing at once with unread input would make
// the kernel reset the stream and could destroy the reply in flight.

namespace {

constexpr qint64 kReadSlice = 64 * 1024;
constexpr qint64 kMaxWriteBacklog = 1024 * 1024;

HttpConnection* self(http_parser* p)
{
    return static_cast<HttpConnection*>(p->data);
}

} // namespace

const http_parser_settings& HttpConnection::parserSettings()
{
    static const http_parser_settings settings = [] {
        // The head limit is a process-wide setting of the parser library.
        http_parser_set_max_header_size(kMaxHeadBytes);
        http_parser_settings s;
        http_parser_settings_init(&s);
        s.on_message_begin = &HttpConnection::onMessageBegin;
        s.on_url = &HttpConnection::onUrl;
        s.on_header_field = &HttpConnection::onHeaderField;
        s.on_header_value = &HttpConnection::onHeaderValue;
        s.on_headers_complete = &HttpConnection::onHeadersComplete;
        s.on_body = &HttpConnection::onBody;
        s.on_message_complete = &HttpConnection::onMessageComplete;
        return s;
    }();
    return settings;
}

HttpConnection::HttpConnection(TlsStream* socket, const HttpRouter& router, int idleTimeoutMs,
    std::shared_ptr<HttpLaterReply::Mailbox> mailbox, QObject* parent)
    : QObject(parent)
    , m_socket(socket)
    , m_router(router)
    , m_mailbox(std::move(mailbox))
    , m_idleTimer(this)
{
    m_socket->setParent(this);
    m_peer = QStringLiteral("%1:%2").arg(m_socket->peerAddress().toString()).arg(m_socket->peerPort());
    http_parser_init(&m_parser, HTTP_REQUEST);
    m_parser.data = this;

    m_idleTimer.setSingleShot(true);
    m_idleTimer.setInterval(idleTimeoutMs);
    connect(&m_idleTimer, &QTimer::timeout, this, [this] {
        qDebug().noquote() << "[http] closing idle connection" << m_peer;
        abort();
    });
    connect(m_socket, &TlsStream::readyRead, this, &HttpConnection::onReadyRead);
    connect(m_socket, &TlsStream::bytesWritten, this, [this] {
        touch();
        if (m_closing)
            shutdownWhenFlushed();
        else
            processInput(); // replies have drained: take the next request
    });
    connect(m_socket, &QAbstractSocket::disconnected, this, &HttpConnection::finish);
    connect(m_socket, &QAbstractSocket::errorOccurred, this, [this](QAbstractSocket::SocketError error) {
        if (error != QAbstractSocket::RemoteHostClosedError)
            qDebug().noquote() << "[http] connection" << m_peer << "failed:" << m_socket->errorString();
        abort();
    });

    touch();
    m_idleTimer.start();
}

HttpConnection::~HttpConnection()
{
    // The socket dies with us and would report its own end; nobody listens.
    m_finished = true;
    m_socket->disconnect(this);
}

void HttpConnection::abort()
{
    m_socket->abort();
    finish();
}

void HttpConnection::finish()
{
    if (m_finished)
        return;
    m_finished = true;
    m_idleTimer.stop();
    emit closed(this);
}

void HttpConnection::touch()
{
    m_lastActivity = monotonicMs();
}

qint64 HttpConnection::writeBacklog() const
{
    return m_socket->bytesToWrite();
}

void HttpConnection::onReadyRead()
{
    touch();
    if (m_closing) {
        m_socket->readAll();
        return;
    }
    processInput();
}

void HttpConnection::processInput()
{
    if (m_processing || m_closing || m_finished || m_awaitingLater)
        return;
    QScopedValueRollback<bool> guard(m_processing, true);
    while (!m_closing && !m_awaitingLater) {
        if (writeBacklog() > kMaxWriteBacklog)
            return; // resumed by bytesWritten
        if (m_input.isEmpty()) {
            m_input = m_socket->read(kReadSlice);
            if (m_input.isEmpty())
                return;
        }
        const size_t used = http_parser_execute(
            &m_parser, &parserSettings(), m_input.constData(), static_cast<size_t>(m_input.size()));
        const auto error = static_cast<http_errno>(HTTP_PARSER_ERRNO(&m_parser));
        if (error == HPE_PAUSED) {
            // One whole request has been parsed; what follows it stays for later.
            m_input.remove(0, static_cast<int>(used));
            http_parser_pause(&m_parser, 0);
            answer();
            continue;
        }
        if (error != HPE_OK) {
            if (m_refusal)
                refuse(m_refusal, m_refusalWhy);
            else if (error == HPE_HEADER_OVERFLOW)
                refuse(431, "request head too large");
            else
                refuse(400, http_errno_description(error));
            return;
        }
        m_input.clear();
    }
}

void HttpConnection::answer()
{
    const quint64 number = ++m_requestNumber;
    HttpResponder responder([this, number] { return HttpLaterReply(m_mailbox, this, number); });
    HttpResponse response = HttpResponse::status(404);
    try {
        if (m_router.dispatch(m_request, responder)) {
            if (responder.isWritten()) {
                response = responder.response();
            } else if (responder.isLater()) {
                m_awaitingLater = true; // sendLater goes on
                return;
            } else {
                qWarning().noquote() << "[http] no reply was written for" << m_request.path();
                response = HttpResponse::status(500);
            }
        }
    } catch (const std::exception& e) {
        qWarning().noquote() << "[http] handler for" << m_request.path() << "threw:" << e.what();
        response = HttpResponse::status(500);
    } catch (...) {
        qWarning().noquote() << "[http] handler for" << m_request.path() << "threw";
        response = HttpResponse::status(500);
    }
    // After a protocol switch request the rest of the stream is not HTTP.
    send(response, m_keepAlive && !m_parser.upgrade);
}

void HttpConnection::sendLater(quint64 request, const HttpResponse& response)
{
    if (!m_awaitingLater || request != m_requestNumber || m_finished)
        return;
    m_awaitingLater = false;
    send(response, m_keepAlive && !m_parser.upgrade);
    processInput(); // the requests that waited behind it
}

void HttpConnection::refuse(int status, const char* why)
{
    qWarning().noquote() << "[http]" << status << "to" << m_peer << "-" << why;
    m_request.m_method.clear();
    send(HttpResponse::status(status), false);
}

void HttpConnection::send(const HttpResponse& response, bool keepAlive)
{
    const int status = response.statusCode();
    QByteArray head = "HTTP/1.1 " + QByteArray::number(status) + ' ' + HttpResponse::reasonPhrase(status) + "\r\n";
    for (const HttpResponse::Header& h : response.headers()) {
        if (h.first.compare("Content-Length", Qt::CaseInsensitive) == 0
            || h.first.compare("Connection", Qt::CaseInsensitive) == 0)
            continue; // framing is ours to say
        head += h.first + ": " + h.second + "\r\n";
    }
    head += "Content-Length: " + QByteArray::number(response.body().size()) + "\r\n";
    head += keepAlive ? "Connection: keep-alive\r\n\r\n" : "Connection: close\r\n\r\n";
    // One write per reply: each write of the TLS socket becomes its own
    // record, flush and system call, which for the usual small JSON reply
    // would double the cost of sending it.
    if (m_request.method() != "HEAD")
        head += response.body();
    m_socket->write(head);
    touch();
    m_idleTimer.start();
    if (!keepAlive)
        closeAfterReply();
}

void HttpConnection::closeAfterReply()
{
    m_closing = true;
    m_input.clear();
    m_socket->readAll();
    shutdownWhenFlushed();
}

void HttpConnection::shutdownWhenFlushed()
{
    if (m_writeShut || m_finished || writeBacklog() > 0)
        return; // called again by bytesWritten
    m_writeShut = true;
    // Half-close after close_notify: the client reads our reply and then the
    // end of the stream; we keep reading (and dropping) until it closes its
    // side.
    m_socket->closeWrite();
}

int HttpConnection::onMessageBegin(http_parser* p)
{
    HttpConnection* c = self(p);
    c->m_request = HttpRequest();
    c->m_rawUrl.clear();
    c->m_field.clear();
    c->m_value.clear();
    c->m_inValue = false;
    c->m_keepAlive = false;
    c->m_refusal = 0;
    return 0;
}

int HttpConnection::onUrl(http_parser* p, const char* at, size_t len)
{
    self(p)->m_rawUrl.append(at, static_cast<int>(len));
    return 0;
}

int HttpConnection::onHeaderField(http_parser* p, const char* at, size_t len)
{
    HttpConnection* c = self(p);
    if (c->m_inValue)
        c->flushHeader();
    c->m_field.append(at, static_cast<int>(len));
    return 0;
}

int HttpConnection::onHeaderValue(http_parser* p, const char* at, size_t len)
{
    HttpConnection* c = self(p);
    c->m_value.append(at, static_cast<int>(len));
    c->m_inValue = true;
    return 0;
}

void HttpConnection::flushHeader()
{
    if (!m_field.isEmpty())
        m_request.m_headers.append({ m_field, m_value.trimmed() });
    m_field.clear();
    m_value.clear();
    m_inValue = false;
}

int HttpConnection::onHeadersComplete(http_parser* p)
{
    HttpConnection* c = self(p);
    c->flushHeader();
    HttpRequest& r = c->m_request;
    r.m_method = http_method_str(static_cast<http_method>(p->method));
    r.m_remoteAddress = c->m_socket->peerAddress();

    http_parser_url parts;
    http_parser_url_init(&parts);
    if (http_parser_parse_url(
            c->m_rawUrl.constData(), static_cast<size_t>(c->m_rawUrl.size()), p->method == HTTP_CONNECT, &parts)
        != 0) {
        c->m_refusal = 400;
        c->m_refusalWhy = "malformed request target";
        return -1;
    }
    auto field = [&](int f) {
        if (!(parts.field_set & (1 << f)))
            return QByteArray();
        return c->m_rawUrl.mid(parts.field_data[f].off, parts.field_data[f].len);
    };
    QByteArray rawPath = field(UF_PATH);
    if (rawPath.isEmpty())
        rawPath = "/";
    const QByteArray rawQuery = field(UF_QUERY);
    r.m_path = QUrl::fromPercentEncoding(rawPath);
    r.m_query = HttpRequest::parseQuery(rawQuery);
    r.m_url.setScheme(QStringLiteral("https"));
    r.m_url.setAuthority(QString::fromUtf8(r.header("Host")));
    r.m_url.setPath(QString::fromUtf8(rawPath), QUrl::TolerantMode);
    if (parts.field_set & (1 << UF_QUERY))
        r.m_url.setQuery(QString::fromUtf8(rawQuery), QUrl::TolerantMode);

    // A declared length over the limit is refused before any of it is read.
    if (!(p->flags & F_CHUNKED) && p->content_length != ULLONG_MAX
        && p->content_length > static_cast<quint64>(kMaxBodyBytes)) {
        c->m_refusal = 413;
        c->m_refusalWhy = "declared request body too large";
        return -1;
    }
    return 0;
}

int HttpConnection::onBody(http_parser* p, const char* at, size_t len)
{
    HttpConnection* c = self(p);
    if (static_cast<quint64>(c->m_request.m_body.size()) + len > static_cast<quint64>(kMaxBodyBytes)) {
        c->m_refusal = 413; // chunked, growing past the limit
        c->m_refusalWhy = "request body too large";
        return -1;
    }
    c->m_request.m_body.append(at, static_cast<int>(len));
    return 0;
}

int HttpConnection::onMessageComplete(http_parser* p)
{
    HttpConnection* c = self(p);
    c->flushHeader(); // trailer fields of a chunked body
    c->m_keepAlive = http_should_keep_alive(p) != 0;
    http_parser_pause(p, 1);
    return 0;
}
