#include "ProcessSetup.h"

#include <QDebug>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QThread>

#include <atomic>
#include <cstdlib>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

void ProcessSetup::restrictNewFiles()
{
    ::umask(S_IRWXG | S_IRWXO);
}

long ProcessSetup::raiseOpenFileLimit()
{
    rlimit limit {};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0)
        return -1;
    if (limit.rlim_cur < limit.rlim_max) {
        const rlim_t before = limit.rlim_cur;
        limit.rlim_cur = limit.rlim_max;
        if (::setrlimit(RLIMIT_NOFILE, &limit) != 0) {
            qWarning() << "[start] cannot raise the open file limit from" << before;
            limit.rlim_cur = before;
        }
    }
    return limit.rlim_cur == RLIM_INFINITY ? -1 : long(limit.rlim_cur);
}

void ProcessSetup::restrictExisting(const QString& folder)
{
    // Only the group's and others' bits go: what the owner had stays.
    const auto restrict = [](const QString& path) {
        const QByteArray name = QFile::encodeName(path);
        struct stat st { };
        if (::lstat(name.constData(), &st) == 0 && !S_ISLNK(st.st_mode) && (st.st_mode & 077) != 0
            && ::chmod(name.constData(), st.st_mode & 07700) != 0)
            qWarning().noquote() << "[start] cannot make" << path << "private";
    };
    restrict(folder);
    QDirIterator it(
        folder, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
    while (it.hasNext())
        restrict(it.next());
}

bool ProcessSetup::takeLauncherMark()
{
    static const char kVariable[] = "PANOPTRA_LAUNCHER_PID";
    const char* value = std::getenv(kVariable);
    bool ours = false;
    if (value && *value) {
        char* end = nullptr;
        const long pid = std::strtol(value, &end, 10);
        ours = *end == '\0' && pid > 1 && pid == long(::getppid());
    }
    ::unsetenv(kVariable);
    return ours;
}

namespace {

// The process's threads other than the caller: how many, and whether every
// one of them is asleep (blocked in the kernel) rather than running or
// waiting for a processor, as a thread on its way out does.
struct OtherThreads {
    int count = 0;
    bool allAsleep = true;
};

OtherThreads otherThreads()
{
    OtherThreads others;
    const QString self = QString::number(::gettid());
    const QStringList tasks = QDir(QStringLiteral("/proc/self/task")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString& task : tasks) {
        if (task == self)
            continue;
        QFile stat(QStringLiteral("/proc/self/task/%1/stat").arg(task));
        if (!stat.open(QIODevice::ReadOnly))
            continue; // gone meanwhile
        ++others.count;
        // "tid (name) S ...": the state follows the name, which may hold ')'.
        const QByteArray line = stat.readAll();
        const int end = line.lastIndexOf(')');
        if (end < 0 || line.mid(end + 2, 1) != "S")
            others.allAsleep = false;
    }
    return others;
}

std::atomic<int> g_exitSettleMs { 0 };

} // namespace

void ProcessSetup::settleThreads(int maxMs)
{
    constexpr qint64 kQuietMs = 100;
    QElapsedTimer total, quiet;
    total.start();
    quiet.start();
    int last = -1;
    for (;;) {
        const OtherThreads others = otherThreads();
        if (others.count == 0)
            return;
        if (others.count != last || !others.allAsleep) {
            last = others.count;
            quiet.restart();
        } else if (quiet.elapsed() >= kQuietMs) {
            return;
        }
        if (total.elapsed() >= maxMs)
            return;
        QThread::msleep(10);
    }
}

void ProcessSetup::settleThreadsAtExit(int maxMs)
{
    if (g_exitSettleMs.exchange(maxMs) == 0)
        std::atexit([] { settleThreads(g_exitSettleMs); });
}
