#include "ProcessSetup.h"

#include <QDebug>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QThread>

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

void ProcessSetup::settleThreads(int maxMs)
{
    const auto count
        = [] { return QDir(QStringLiteral("/proc/self/task")).entryList(QDir::Dirs | QDir::NoDotAndDotDot).size(); };
    QElapsedTimer total, steady;
    total.start();
    steady.start();
    int last = count();
    while (total.elapsed() < maxMs && steady.elapsed() < 100) {
        QThread::msleep(10);
        const int now = count();
        if (now != last) {
            last = now;
            steady.restart();
        }
    }
}
