#pragma once
// A listening socket that hands every accepted descriptor to a function,
// so that the socket made for it can be a TLS socket from the start.
//
// Owned by the server that listens with it, on that server's thread.
#include <QTcpServer>

#include <functional>

class TlsServerContext;
class TlsStream;

class DescriptorListener : public QTcpServer {
public:
    DescriptorListener(std::function<void(qintptr)> onAccept, QObject* parent)
        : QTcpServer(parent)
        , m_onAccept(std::move(onAccept))
    {
    }

    // How long a start-up listen keeps trying a port that is in use: a
    // process that held it may still be ending (a quick restart after a
    // crash or from the settings), or a connection of this machine may hold
    // it for a moment.
    static constexpr int kAddressInUseRetryMs = 5000;

    // Listens, with the system's longest queue of connections not yet
    // accepted: the default of 50 overflows when many browsers (or a flood)
    // connect at once, and the kernel then silently drops their handshakes
    // for seconds, where the system's own limit lets the thread catch up.
    // A port in use is tried again, blocking the calling thread, until
    // retryMs have passed; any other failure ends at once. On failure
    // errorString() says why.
    bool listenDeep(const QHostAddress& address, quint16 port, int retryMs = kAddressInUseRetryMs);
    // The server side of a TLS connection on an accepted descriptor, waiting
    // for the client's handshake; null, the descriptor closed and a line
    // logged under tag, when the descriptor cannot be taken.
    static TlsStream* takeTls(qintptr descriptor, const TlsServerContext& tls, const char* tag, QObject* parent);

protected:
    void incomingConnection(qintptr descriptor) override { m_onAccept(descriptor); }

private:
    std::function<void(qintptr)> m_onAccept;
};
