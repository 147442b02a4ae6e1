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

    // Listens, with the system's longest queue of connections not yet
    // accepted: the default of 50 overflows when many browsers (or a flood)
    // connect at once, and the kernel then silently drops their handshakes
    // for seconds, where the system's own limit lets the thread catch up.
    bool listenDeep(const QHostAddress& address, quint16 port);
    // The server side of a TLS connection on an accepted descriptor, waiting
    // for the client's handshake; null, the descriptor closed and a line
    // logged under tag, when the descriptor cannot be taken.
    static TlsStream* takeTls(qintptr descriptor, const TlsServerContext& tls, const char* tag, QObject* parent);

protected:
    void incomingConnection(qintptr descriptor) override { m_onAccept(descriptor); }

private:
    std::function<void(qintptr)> m_onAccept;
};
