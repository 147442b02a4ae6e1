#include "DescriptorListener.h"

#include "TlsStream.h"

#include <QDebug>
#include <QElapsedTimer>
#include <QThread>

#include <sys/socket.h>
#include <unistd.h>

bool DescriptorListener::listenDeep(const QHostAddress& address, quint16 port, int retryMs)
{
    constexpr int kStepMs = 100;
    QElapsedTimer waited;
    waited.start();
    bool said = false;
    while (!listen(address, port)) {
        if (serverError() != QAbstractSocket::AddressInUseError || waited.elapsed() >= retryMs)
            return false;
        if (!said) {
            qInfo().noquote() << "[listen] port" << port << "is in use; trying again for up to" << retryMs << "ms";
            said = true;
        }
        QThread::msleep(kStepMs);
    }
    if (said)
        qInfo().noquote() << "[listen] port" << port << "free after" << waited.elapsed() << "ms";
    ::listen(static_cast<int>(socketDescriptor()), SOMAXCONN);
    return true;
}

TlsStream* DescriptorListener::takeTls(
    qintptr descriptor, const TlsServerContext& tls, const char* tag, QObject* parent)
{
    auto* socket = new TlsStream(tls, parent);
    if (!socket->takeDescriptor(descriptor)) {
        qWarning().noquote() << tag << "cannot take an accepted connection";
        delete socket;
        ::close(static_cast<int>(descriptor));
        return nullptr;
    }
    return socket;
}
