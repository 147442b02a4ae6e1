#include "StandInDirWatch.h"

#include "StandInRegistry.h"

#include <QDebug>
#include <QFile>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/syscall.h>
#include <unistd.h>
#include <vector>

namespace {

// Without inotify: how often the directory is listed again (as before any
// watch existed). Without pidfds: how often a departed process is looked for.
constexpr std::chrono::milliseconds kListStep(20);
constexpr std::chrono::milliseconds kOwnerStep(1000);

} // namespace

StandInDirWatch::StandInDirWatch(const QString& dir)
    : m_dir(dir)
{
    if (!m_dir.isEmpty() && !watchDirectory())
        qWarning() << "[ndi] cannot watch the registry" << m_dir << ", listing it every" << kListStep.count() << "ms";
}

bool StandInDirWatch::watchDirectory()
{
    const int fd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (fd < 0)
        return false;
    const uint32_t mask = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_CLOSE_WRITE | IN_DELETE_SELF
        | IN_MOVE_SELF | IN_ONLYDIR;
    if (::inotify_add_watch(fd, QFile::encodeName(m_dir).constData(), mask) < 0) {
        ::close(fd);
        return false;
    }
    m_inotify = fd;
    return true;
}

StandInDirWatch::~StandInDirWatch()
{
    for (const auto& [pid, fd] : m_pidfds)
        ::close(fd);
    if (m_inotify >= 0)
        ::close(m_inotify);
}

void StandInDirWatch::followOwners(const QStringList& fileNames)
{
    std::map<qint64, QString> owners;
    for (const QString& name : fileNames) {
        const qint64 pid = StandInRegistry::ownerPid(name);
        if (pid != 0 && pid != ::getpid())
            owners.emplace(pid, name);
    }
    for (auto it = m_departed.begin(); it != m_departed.end();)
        it = owners.count(*it) == 0 ? m_departed.erase(it) : std::next(it);
    for (auto it = m_pidfds.begin(); it != m_pidfds.end();) {
        if (owners.count(it->first) == 0) {
            ::close(it->second);
            it = m_pidfds.erase(it);
        } else {
            ++it;
        }
    }
    for (const auto& [pid, name] : owners) {
        if (m_pidfds.count(pid) != 0 || m_departed.count(pid) != 0 || !m_pidfdsWork)
            continue;
        // Through syscall(): the C library's declaration is unusable from C++ here.
        const int fd = int(::syscall(SYS_pidfd_open, pid_t(pid), 0u));
        if (fd < 0) {
            // Gone already: the next listing clears its files away.
            if (errno == ESRCH) {
                m_pending = true;
                continue;
            }
            qWarning() << "[ndi] cannot follow sender processes (" << strerror(errno)
                       << "), looking for departed ones every" << kOwnerStep.count() << "ms";
            m_pidfdsWork = false;
            continue;
        }
        m_pidfds.emplace(pid, fd);
        // The pid may have been taken by another process between the listing
        // and the open: the file's owner is gone then.
        if (!StandInRegistry::ownerAlive(name))
            m_pending = true;
    }
}

bool StandInDirWatch::wait(std::chrono::milliseconds timeout)
{
    if (m_pending) {
        m_pending = false;
        return true;
    }
    // Without a full watch, the directory is looked at again every step.
    std::chrono::milliseconds sleep = timeout;
    if (m_inotify < 0 || !m_pidfdsWork) {
        const auto now = std::chrono::steady_clock::now();
        if (now >= m_nextLook) {
            // A folder that was made again is watched again.
            if (m_inotify < 0 && !m_dir.isEmpty())
                watchDirectory();
            m_nextLook = now + (m_inotify < 0 ? kListStep : kOwnerStep);
            return true;
        }
        sleep = std::min(sleep, std::chrono::ceil<std::chrono::milliseconds>(m_nextLook - now));
    }
    std::vector<pollfd> fds;
    if (m_inotify >= 0)
        fds.push_back({ m_inotify, POLLIN, 0 });
    for (const auto& [pid, fd] : m_pidfds)
        fds.push_back({ fd, POLLIN, 0 });
    if (::poll(fds.data(), nfds_t(fds.size()), int(sleep.count())) <= 0)
        return false;
    for (const pollfd& p : fds) {
        if (p.revents == 0)
            continue;
        if (p.fd == m_inotify) {
            if (!drainEvents()) {
                qWarning() << "[ndi] the registry is no longer watched, listing it every" << kListStep.count() << "ms";
                ::close(m_inotify);
                m_inotify = -1;
            }
            continue;
        }
        // An ended process's pidfd stays readable: it is reported once, and
        // the listing that follows clears its files away.
        for (auto it = m_pidfds.begin(); it != m_pidfds.end(); ++it) {
            if (it->second == p.fd) {
                ::close(it->second);
                m_departed.insert(it->first);
                m_pidfds.erase(it);
                break;
            }
        }
    }
    return true;
}

bool StandInDirWatch::drainEvents()
{
    alignas(inotify_event) char buffer[4096];
    bool watched = true;
    for (;;) {
        const ssize_t n = ::read(m_inotify, buffer, sizeof buffer);
        if (n <= 0)
            return watched;
        for (ssize_t at = 0; at + ssize_t(sizeof(inotify_event)) <= n;) {
            const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
            // Removed, or moved away from its name: the watch no longer
            // follows the folder the finder lists.
            if (event->mask & (IN_IGNORED | IN_MOVE_SELF))
                watched = false;
            at += ssize_t(sizeof(inotify_event) + event->len);
        }
    }
}
