#pragma once
// The server side of one TLS connection, seen by its user as a TCP socket
// that carries plain bytes: the HTTPS connection reads and writes it, and
// the WebSocket listener upgrades it like any QTcpSocket.
//
// Owner: whoever took the accepted descriptor (HttpConnection, or the
// WebSocket that was made on it). Thread: the thread it lives on; all its
// work runs in that thread's event loop, one call at a time.
//
// Design note. The encrypted bytes travel through an inner QTcpSocket; the
// TLS state is OpenSSL's, on the server's shared TlsServerContext, fed
// through memory buffers, so that every connection of a server shares one
// context (and with it the session cache and ticket keys). Decrypted input
// is read from the network only while less than a bounded amount of it
// waits to be taken, so a user that stops reading pushes back on the
// client. Closing sends the TLS close_notify alert before the end of the
// stream, so a client can tell a complete reply from a cut one.
#include <QByteArray>
#include <QTcpSocket>

#include <functional>

class TlsServerContext;
typedef struct ssl_st SSL;

class TlsStream : public QTcpSocket {
    Q_OBJECT
public:
    TlsStream(const TlsServerContext& context, QObject* parent = nullptr);
    ~TlsStream() override;

    // Takes the accepted descriptor and waits for the client's handshake.
    // False when the descriptor cannot be used or the context is not built.
    bool takeDescriptor(qintptr descriptor);
    bool isEncrypted() const { return m_encrypted; }
    // Whether the handshake resumed an earlier session.
    bool isResumed() const;

    // Sends close_notify and, once everything queued has gone out, closes
    // the sending half of the stream; reading goes on until the client
    // closes. A repeat does nothing.
    void closeWrite();
    // Closes at once, dropping whatever is not yet sent.
    void abort();

    // How many decrypted bytes may wait unread before the stream stops
    // reading the socket (256 KiB unless set). A reader that takes only whole
    // messages needs room for its largest one.
    void setMaxPlainBacklog(int bytes) { m_maxPlainBacklog = bytes; }

    // Sees the decrypted input in order, in pieces, before the user can read
    // any of it. Once it answers false the stream takes no more input: it
    // drops what the user has not read, sends farewell (the last words of
    // the protocol above) and close_notify, and aborts, which the user sees
    // as the end of the stream. The user never reads from a stream closed
    // under it, and nothing the guard refused is buffered.
    using InputGuard = std::function<bool(const char* data, qint64 size)>;
    void setInputGuard(InputGuard guard, const QByteArray& farewell);

    qint64 bytesAvailable() const override;
    // Encrypted bytes not yet taken by the system.
    qint64 bytesToWrite() const override;
    bool canReadLine() const override;
    void disconnectFromHost() override;
    // The user is done with the stream (as the WebSocket layer is when it
    // refuses a frame): input not yet read and input still to come are
    // dropped, so the user is never told of bytes it can no longer read.
    void close() override;

signals:
    // The handshake is done; plain bytes may flow.
    void encrypted();

protected:
    qint64 readData(char* data, qint64 maxSize) override;
    qint64 writeData(const char* data, qint64 size) override;

private:
    int m_maxPlainBacklog = 256 * 1024;
    void pump();
    void flushCipher();
    void fail(QAbstractSocket::SocketError error, const QString& why);
    void onPlainDisconnected();
    void shutWriteWhenFlushed();
    void refuseInput();

    QTcpSocket* m_plain; // child: the encrypted bytes
    SSL* m_ssl = nullptr;
    QByteArray m_in; // decrypted, not yet read
    InputGuard m_guard;
    QByteArray m_farewell;
    bool m_encrypted = false;
    bool m_closeNotifySent = false;
    bool m_writeShut = false;
    bool m_pumping = false;
    bool m_failed = false;
    bool m_inputClosed = false; // refused by the guard or closed by the user: nothing more is read
};
