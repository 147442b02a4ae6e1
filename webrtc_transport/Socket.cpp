#include "Socket.h"

#include <QDebug>

#include <cerrno>
#include <cstring>
#include <unistd.h>

int Socket::Close(int fd)
{
    if (fd < 0)
        return 0;
    if (::close(fd) == 0)
        return 0;
    qDebug() << "Socket::close error:" << std::strerror(errno) << "fd" << fd;
    return -1;
}
