#include "ShutdownSignal.h"

#include <QDebug>
#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace {

int s_pipe[2] = { -1, -1 };

extern "C" void onSignal(int signalNumber)
{
    const int savedErrno = errno;
    const unsigned char byte = static_cast<unsigned char>(signalNumber);
    // Non-blocking: with the pipe full a request is pending already.
    [[maybe_unused]] ssize_t written = ::write(s_pipe[1], &byte, 1);
    errno = savedErrno;
}

} // namespace

bool ShutdownSignal::install()
{
    if (s_pipe[0] >= 0)
        return true;
    if (::pipe2(s_pipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return false;
    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signalNumber : { SIGTERM, SIGINT, SIGHUP }) {
        if (::sigaction(signalNumber, &action, nullptr) != 0)
            return false;
    }
    return true;
}

ShutdownSignal::ShutdownSignal(QObject* parent)
    : QObject(parent)
{
    if (s_pipe[0] < 0)
        return;
    m_notifier = new QSocketNotifier(s_pipe[0], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &ShutdownSignal::drain);
}

void ShutdownSignal::drain()
{
    unsigned char byte = 0;
    int last = 0;
    while (::read(s_pipe[0], &byte, 1) == 1)
        last = byte;
    if (last == 0)
        return;
    qDebug() << "shutdown requested by signal" << last;
    emit requested(last);
}
