#include "DescriptorListener.h"

#include <QDebug>
#include <QSslSocket>

#include <sys/socket.h>
#include <unistd.h>

bool DescriptorListener::listenDeep(const QHostAddress& address, quint16 port)
{
    if (!listen(address, port))
        return false;
    ::listen(static_cast<int>(socketDescriptor()), SOMAXCONN);
    return true;
}

QSslSocket* DescriptorListener::takeTls(
    qintptr descriptor, const QSslConfiguration& tls, const char* tag, QObject* parent)
{
    auto* socket = new QSslSocket(parent);
    if (!socket->setSocketDescriptor(descriptor)) {
        qWarning().noquote() << tag << "cannot take an accepted connection:" << socket->errorString();
        delete socket;
        ::close(static_cast<int>(descriptor));
        return nullptr;
    }
    socket->setSslConfiguration(tls);
    return socket;
}
