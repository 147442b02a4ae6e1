#include "TlsStream.h"

#include "TlsServerContext.h"
#include "base/OpenSslErrors.h"

#include <QHostAddress>
#include <QtGlobal>

#include <openssl/ssl.h>

#include <sys/socket.h>

namespace {

// Decrypted input held for the user at most; past it the network is not
// read until the user takes some.
constexpr qint64 kCipherSlice = 64 * 1024;

} // namespace

TlsStream::TlsStream(const TlsServerContext& context, QObject* parent)
    : QTcpSocket(parent)
    , m_plain(new QTcpSocket(this))
{
    if (context.isValid()) {
        m_ssl = SSL_new(context.handle());
        SSL_set_bio(m_ssl, BIO_new(BIO_s_mem()), BIO_new(BIO_s_mem()));
        SSL_set_accept_state(m_ssl);
    }
}

TlsStream::~TlsStream()
{
    m_plain->disconnect(this);
    m_plain->abort();
    // Most clients end with a bare close instead of close_notify, and
    // OpenSSL then drops the session from the cache as if the connection
    // had been cut in an attack; a connection without a TLS error keeps its
    // session for the client's next connection.
    if (m_ssl && m_encrypted && !m_failed)
        SSL_set_shutdown(m_ssl, SSL_SENT_SHUTDOWN | SSL_RECEIVED_SHUTDOWN);
    SSL_free(m_ssl);
    // The base class would otherwise close "us" again and report it to
    // whoever still listens, after this part of the object is gone.
    setSocketState(UnconnectedState);
}

bool TlsStream::takeDescriptor(qintptr descriptor)
{
    if (!m_ssl || !m_plain->setSocketDescriptor(descriptor))
        return false;
    // The system's buffer and this one hold what the user has not taken;
    // beyond them the client is made to wait.
    m_plain->setReadBufferSize(kCipherSlice);
    setPeerAddress(m_plain->peerAddress());
    setPeerPort(m_plain->peerPort());
    setLocalAddress(m_plain->localAddress());
    setLocalPort(m_plain->localPort());
    setSocketState(ConnectedState);
    setOpenMode(QIODevice::ReadWrite | QIODevice::Unbuffered);

    connect(m_plain, &QTcpSocket::readyRead, this, &TlsStream::pump);
    connect(m_plain, &QTcpSocket::bytesWritten, this, [this](qint64 written) {
        emit bytesWritten(written);
        shutWriteWhenFlushed();
    });
    connect(m_plain, &QTcpSocket::disconnected, this, &TlsStream::onPlainDisconnected);
    connect(m_plain, &QTcpSocket::errorOccurred, this, [this](SocketError error) {
        if (error == RemoteHostClosedError)
            return; // the end of the stream follows as disconnected()
        fail(error, m_plain->errorString());
    });
    return true;
}

bool TlsStream::isResumed() const
{
    return m_ssl && SSL_session_reused(m_ssl) == 1;
}

void TlsStream::pump()
{
    if (m_pumping || m_failed || m_inputClosed || !m_ssl)
        return;
    m_pumping = true;
    bool gotPlain = false;
    for (;;) {
        if (m_in.size() >= m_maxPlainBacklog)
            break; // resumed by readData
        const QByteArray cipher = m_plain->isOpen() ? m_plain->read(kCipherSlice) : QByteArray();
        if (!cipher.isEmpty())
            BIO_write(SSL_get_rbio(m_ssl), cipher.constData(), cipher.size());
        if (!m_encrypted) {
            const int rc = SSL_do_handshake(m_ssl);
            flushCipher();
            if (rc == 1) {
                m_encrypted = true;
                emit encrypted();
            } else if (SSL_get_error(m_ssl, rc) == SSL_ERROR_WANT_READ) {
                if (cipher.isEmpty())
                    break;
                continue;
            } else {
                m_pumping = false;
                fail(SslHandshakeFailedError, QStringLiteral("TLS handshake failed: ") + drainOpenSslErrors());
                return;
            }
        }
        bool more = !cipher.isEmpty();
        while (m_in.size() < m_maxPlainBacklog) {
            char buffer[16384];
            const int n = SSL_read(m_ssl, buffer, sizeof buffer);
            if (n > 0) {
                if (m_guard && !m_guard(buffer, n)) {
                    m_pumping = false;
                    refuseInput();
                    return;
                }
                m_in.append(buffer, n);
                gotPlain = more = true;
                continue;
            }
            const int error = SSL_get_error(m_ssl, n);
            if (error == SSL_ERROR_WANT_READ || error == SSL_ERROR_ZERO_RETURN)
                break; // ZERO_RETURN: the client's close_notify; its end of the stream follows
            m_pumping = false;
            fail(SslInternalError, QStringLiteral("TLS record refused: ") + drainOpenSslErrors());
            return;
        }
        flushCipher(); // tickets and alerts that reading produced
        if (!more)
            break;
    }
    m_pumping = false;
    if (gotPlain)
        emit readyRead();
}

qint64 TlsStream::readData(char* data, qint64 maxSize)
{
    const int n = int(qMin<qint64>(maxSize, m_in.size()));
    if (data && n > 0) // no target: the bytes are skipped
        memcpy(data, m_in.constData(), size_t(n));
    m_in.remove(0, n);
    // Reading stopped at the backlog bound may have left bytes inside OpenSSL
    // (a decrypted record, or ciphertext in the read buffer) as well as on the
    // socket: any of them resumes the pump, or a message larger than the
    // bound would wait for the next packet forever.
    if (m_in.size() < m_maxPlainBacklog && m_ssl
        && ((m_plain->isOpen() && m_plain->bytesAvailable() > 0) || SSL_pending(m_ssl) > 0
            || BIO_ctrl_pending(SSL_get_rbio(m_ssl)) > 0))
        QMetaObject::invokeMethod(this, &TlsStream::pump, Qt::QueuedConnection);
    if (n == 0 && state() == UnconnectedState)
        return -1;
    return n;
}

qint64 TlsStream::writeData(const char* data, qint64 size)
{
    if (!m_ssl || !m_encrypted || m_closeNotifySent || state() != ConnectedState)
        return -1;
    qint64 done = 0;
    while (done < size) {
        const int chunk = int(qMin<qint64>(size - done, 1 << 20));
        const int n = SSL_write(m_ssl, data + done, chunk); // into memory: all of it or an error
        if (n <= 0) {
            fail(SslInternalError, QStringLiteral("TLS write failed: ") + drainOpenSslErrors());
            return done > 0 ? done : -1;
        }
        done += n;
    }
    flushCipher();
    return done;
}

void TlsStream::flushCipher()
{
    BIO* out = SSL_get_wbio(m_ssl);
    while (const size_t pending = BIO_ctrl_pending(out)) {
        QByteArray bytes(int(pending), Qt::Uninitialized);
        const int n = BIO_read(out, bytes.data(), bytes.size());
        if (n <= 0)
            break;
        bytes.truncate(n);
        m_plain->write(bytes);
    }
}

qint64 TlsStream::bytesAvailable() const
{
    // The socket base carries no connection of its own: only the device
    // buffer counts, not a socket engine's.
    return m_in.size() + QIODevice::bytesAvailable(); // NOLINT(bugprone-parent-virtual-call)
}

qint64 TlsStream::bytesToWrite() const
{
    return m_plain->bytesToWrite();
}

bool TlsStream::canReadLine() const
{
    return m_in.contains('\n') || QIODevice::canReadLine(); // NOLINT(bugprone-parent-virtual-call): as above
}

void TlsStream::closeWrite()
{
    if (m_closeNotifySent)
        return;
    m_closeNotifySent = true;
    if (m_ssl && m_encrypted) {
        SSL_shutdown(m_ssl);
        flushCipher();
    }
    shutWriteWhenFlushed();
}

void TlsStream::shutWriteWhenFlushed()
{
    if (!m_closeNotifySent || m_writeShut || m_plain->bytesToWrite() > 0 || m_plain->state() != ConnectedState)
        return; // called again as bytes go out
    m_writeShut = true;
    ::shutdown(int(m_plain->socketDescriptor()), SHUT_WR);
}

void TlsStream::disconnectFromHost()
{
    if (state() == UnconnectedState)
        return;
    if (!m_closeNotifySent && m_ssl && m_encrypted) {
        m_closeNotifySent = true;
        SSL_shutdown(m_ssl);
        flushCipher();
    }
    if (state() != ClosingState) {
        setSocketState(ClosingState);
        emit stateChanged(ClosingState);
    }
    // Sends what is queued, then closes; reported by onPlainDisconnected.
    m_plain->disconnectFromHost();
    if (m_plain->state() == UnconnectedState)
        onPlainDisconnected();
}

void TlsStream::close()
{
    m_inputClosed = true;
    m_in.clear();
    QTcpSocket::close(); // closes the device, then disconnectFromHost
}

void TlsStream::abort()
{
    m_plain->abort(); // reports its end to onPlainDisconnected
    onPlainDisconnected();
}

void TlsStream::setInputGuard(InputGuard guard, const QByteArray& farewell)
{
    m_guard = std::move(guard);
    m_farewell = farewell;
}

void TlsStream::refuseInput()
{
    m_inputClosed = true;
    m_in.clear();
    if (m_encrypted && !m_closeNotifySent && state() == ConnectedState) {
        m_closeNotifySent = true;
        if (!m_farewell.isEmpty())
            SSL_write(m_ssl, m_farewell.constData(), m_farewell.size());
        SSL_shutdown(m_ssl);
        flushCipher();
        // Into the system's buffer before the abort drops what is queued:
        // a few bytes, which a client that still reads finds before the end.
        m_plain->flush();
    }
    abort();
}

void TlsStream::fail(QAbstractSocket::SocketError error, const QString& why)
{
    if (m_failed)
        return; // its listeners may close the stream, which reads what is left
    m_failed = true;
    setSocketError(error);
    setErrorString(why);
    emit errorOccurred(error);
    QT_WARNING_PUSH
    QT_WARNING_DISABLE_DEPRECATED
    emit this->error(error); // listeners of the older signal (the WebSocket layer)
    QT_WARNING_POP
    abort();
}

void TlsStream::onPlainDisconnected()
{
    if (state() == UnconnectedState)
        return;
    pump(); // what arrived before the end
    setSocketState(UnconnectedState);
    emit stateChanged(UnconnectedState);
    emit readChannelFinished();
    emit disconnected();
}
