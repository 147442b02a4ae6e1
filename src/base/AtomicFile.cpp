#include "AtomicFile.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QSaveFile>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace AtomicFile {

namespace {

thread_local const std::function<void(const QString&)>* t_later = nullptr;

bool failed(const QString& path, const QString& why, QString* error)
{
    qWarning() << "[file] writing failed:" << path << why;
    if (error)
        *error = why;
    return false;
}

QString errnoText(const char* step)
{
    return QStringLiteral("%1: %2").arg(QLatin1String(step), QString::fromLocal8Bit(std::strerror(errno)));
}

// Syncs the file or folder at path; a path that is gone is fine.
bool syncPath(const QByteArray& path, int flags)
{
    const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC | flags);
    if (fd < 0)
        return errno == ENOENT;
    const bool done = ::fsync(fd) == 0;
    ::close(fd);
    return done;
}

// The new bytes in a fresh file beside the target, renamed over it without
// waiting for the disk.
bool replaceWithoutSync(const QString& path, const QByteArray& bytes, QString* error, Access access)
{
    const QByteArray target = QFile::encodeName(path);
    QByteArray temp;
    int fd = -1;
    for (int attempt = 0; fd < 0 && attempt < 8; ++attempt) {
        temp = target + '.' + QByteArray::number(QRandomGenerator::global()->generate(), 36);
        // 0666 as QSaveFile creates a new file: the process's umask decides.
        fd = ::open(temp.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST)
            break;
    }
    if (fd < 0)
        return failed(path, errnoText("cannot create a temporary file"), error);

    QString why;
    struct stat old = {};
    if (access == Access::OwnerOnly) {
        if (::fchmod(fd, S_IRUSR | S_IWUSR) != 0)
            why = errnoText("chmod");
    } else if (::stat(target.constData(), &old) == 0 && ::fchmod(fd, old.st_mode & 07777) != 0) {
        why = errnoText("chmod");
    }
    for (qint64 done = 0; why.isEmpty() && done < bytes.size();) {
        const ssize_t n = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (n < 0 && errno != EINTR)
            why = errnoText("write");
        done += std::max<ssize_t>(n, 0);
    }
    if (::close(fd) != 0 && why.isEmpty())
        why = errnoText("close");
    if (why.isEmpty() && ::rename(temp.constData(), target.constData()) != 0)
        why = errnoText("rename");
    if (why.isEmpty())
        return true;
    ::unlink(temp.constData());
    return failed(path, why, error);
}

} // namespace

bool write(const QString& path, const QByteArray& bytes, QString* error, Access access)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    if (t_later) {
        if (!replaceWithoutSync(path, bytes, error, access))
            return false;
        (*t_later)(path);
        return true;
    }
    // QSaveFile syncs the temporary file before its rename.
    QSaveFile file(path);
    const bool ownerOnly = access == Access::OwnerOnly;
    if (!file.open(QIODevice::WriteOnly)
        || (ownerOnly && !file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner))
        || file.write(bytes) != bytes.size() || !file.commit())
        return failed(path, file.errorString(), error);
    return true;
}

bool sync(const QString& path)
{
    // The content first, then the folder entry that names it.
    const bool done = syncPath(QFile::encodeName(path), 0)
        && syncPath(QFile::encodeName(QFileInfo(path).absolutePath()), O_DIRECTORY);
    if (!done)
        qWarning() << "[file] cannot sync" << path << QString::fromLocal8Bit(std::strerror(errno));
    return done;
}

DeferSync::DeferSync(std::function<void(const QString&)> later)
    : m_later(std::move(later))
{
    Q_ASSERT(!t_later);
    t_later = &m_later;
}

DeferSync::~DeferSync()
{
    t_later = nullptr;
}

} // namespace AtomicFile
