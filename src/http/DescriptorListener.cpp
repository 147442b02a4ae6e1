#include "DescriptorListener.h"

#include "TlsStream.h"

#include <QDebug>

#include <sys/socket.h>
#include <unistd.h>

bool DescriptorListener::listenDeep(const QHostAddress& address, quint16 port)
{
    if (!listen(address, port))
        return false;
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
