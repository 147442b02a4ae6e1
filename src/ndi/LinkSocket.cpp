#include "LinkSocket.h"

#include <QDebug>
#include <QFile>

#include <cerrno>
#include <cstring>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace linksocket {

namespace {

// A socket for path with its address filled in, or -1.
int open(const QByteArray& path, sockaddr_un& address)
{
    address = {};
    address.sun_family = AF_UNIX;
    if (size_t(path.size()) >= sizeof address.sun_path)
        return -1;
    std::memcpy(address.sun_path, path.constData(), size_t(path.size()));
    return ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
}

} // namespace

int listenOn(const QString& path)
{
    const QByteArray encoded = QFile::encodeName(path);
    sockaddr_un address;
    const int fd = open(encoded, address);
    if (fd < 0)
        return -1;
    ::unlink(encoded.constData());
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(fd, 64) != 0) {
        qWarning() << "[ndi] cannot listen on" << path << strerror(errno);
        ::close(fd);
        ::unlink(encoded.constData());
        return -1;
    }
    return fd;
}

int connectTo(const QString& path)
{
    sockaddr_un address;
    const int fd = open(QFile::encodeName(path), address);
    if (fd < 0)
        return -1;
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

} // namespace linksocket
