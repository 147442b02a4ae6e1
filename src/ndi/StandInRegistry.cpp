#include "StandInRegistry.h"

#include "base/JsonFile.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonObject>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

// Start time of a process in clock ticks since boot (field 22 of its stat
// line), 0 when unknown; `zombie` tells a process that has exited but is not
// reaped yet.
quint64 processStartTime(qint64 pid, bool* zombie = nullptr)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray line = stat.readAll();
    // The command name may hold blanks and parentheses; fields follow the last ')'.
    const int close = line.lastIndexOf(')');
    if (close < 0)
        return 0;
    const QList<QByteArray> fields = line.mid(close + 2).split(' ');
    // fields[0] is field 3 (state), so field 22 is fields[19].
    if (zombie)
        *zombie = !fields.isEmpty() && fields[0] == "Z";
    return fields.size() > 19 ? fields[19].toULongLong() : 0;
}

const QString& ownIdentity()
{
    static const QString id = QStringLiteral("%1-%2").arg(::getpid()).arg(processStartTime(::getpid()));
    return id;
}

bool usableDirectory(const QString& dir)
{
    const QByteArray path = QFile::encodeName(dir);
    if (::mkdir(path.constData(), 0700) != 0 && errno != EEXIST) {
        if (errno != ENOENT || !QDir().mkpath(dir))
            return false;
    }
    struct stat st { };
    if (::lstat(path.constData(), &st) != 0)
        return false;
    return S_ISDIR(st.st_mode) && st.st_uid == ::geteuid();
}

} // namespace

qint64 StandInRegistry::ownerPid(const QString& fileName)
{
    const QStringList parts = fileName.split('-');
    if (parts.size() < 3)
        return 0;
    bool okPid = false, okStart = false;
    const qint64 pid = parts[0].toLongLong(&okPid);
    parts[1].toULongLong(&okStart);
    return okPid && okStart && pid > 0 ? pid : 0;
}

// Names that do not start with "<pid>-<start>-" are not ours to judge (true).
bool StandInRegistry::ownerAlive(const QString& fileName)
{
    const qint64 pid = ownerPid(fileName);
    if (pid == 0)
        return true;
    if (pid == ::getpid())
        return fileName.startsWith(ownIdentity() + '-');
    if (::kill(pid_t(pid), 0) != 0 && errno == ESRCH)
        return false;
    bool zombie = false;
    const quint64 actual = processStartTime(pid, &zombie);
    if (zombie)
        return false;
    // Without /proc only the pid check above is possible.
    return actual == 0 || actual == fileName.section('-', 1, 1).toULongLong();
}

QString StandInRegistry::directory()
{
    QString dir = qEnvironmentVariable("PANOPTRA_NDI_DIR");
    if (dir.isEmpty()) {
        const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
        dir = !runtime.isEmpty() && QDir(runtime).exists() ? runtime + QStringLiteral("/panoptra-ndi")
                                                           : QStringLiteral("/tmp/panoptra-ndi-%1").arg(::geteuid());
    }
    if (!usableDirectory(dir)) {
        qWarning() << "[ndi] registry directory is not usable:" << dir;
        return {};
    }
    return dir;
}

bool StandInRegistry::reserve(const QString& name, const QString& groups, Entry& entry) const
{
    static std::atomic<int> sequence { 0 };
    const QString stem = QStringLiteral("%1-%2").arg(ownIdentity()).arg(++sequence);
    entry.name = name;
    entry.groups = normaliseGroups(groups).join(',');
    entry.file = m_dir + '/' + stem + QStringLiteral(".json");
    entry.socketPath = m_dir + '/' + stem + QStringLiteral(".sock");
    entry.url = QStringLiteral("127.0.0.1:%1").arg(10000 + qHash(stem) % 50000);
    return QFile::encodeName(entry.socketPath).size() < int(sizeof(sockaddr_un::sun_path));
}

bool StandInRegistry::publish(const Entry& entry) const
{
    const QJsonObject obj { { "name", entry.name }, { "url", entry.url }, { "groups", entry.groups },
        { "socket", QFileInfo(entry.socketPath).fileName() } };
    return JsonFile::save(entry.file, obj);
}

void StandInRegistry::withdraw(const Entry& entry)
{
    QFile::remove(entry.file);
    QFile::remove(entry.socketPath);
}

std::vector<StandInRegistry::Entry> StandInRegistry::scan()
{
    std::vector<Entry> live;
    if (m_dir.isEmpty())
        return live;
    const QStringList names = QDir(m_dir).entryList(QDir::Files | QDir::System | QDir::Hidden);
    std::map<QString, Entry> cache;
    for (const QString& fileName : names) {
        if (!ownerAlive(fileName)) {
            QFile::remove(m_dir + '/' + fileName);
            continue;
        }
        if (!fileName.endsWith(QLatin1String(".json")))
            continue;
        auto cached = m_cache.find(fileName);
        if (cached != m_cache.end()) {
            cache.insert(*cached);
            continue;
        }
        // Announcements are written whole (renamed into place) and never
        // change, so one successful read is kept for the file's lifetime.
        bool ok = false;
        const QJsonObject obj = JsonFile::load(m_dir + '/' + fileName, &ok);
        const QString name = obj.value("name").toString();
        const QString socket = obj.value("socket").toString();
        if (!ok || name.isEmpty() || socket.isEmpty() || socket.contains('/'))
            continue;
        Entry entry { name, obj.value("url").toString(), obj.value("groups").toString(), m_dir + '/' + fileName,
            m_dir + '/' + socket };
        cache.emplace(fileName, entry);
    }
    m_cache.swap(cache);
    for (const auto& [file, entry] : m_cache)
        live.push_back(entry);
    std::sort(live.begin(), live.end(),
        [](const Entry& a, const Entry& b) { return a.name != b.name ? a.name < b.name : a.url < b.url; });
    return live;
}

QStringList StandInRegistry::normaliseGroups(const QString& groups)
{
    QStringList out;
    for (const QString& part : groups.split(',')) {
        const QString g = part.trimmed().toLower();
        if (!g.isEmpty() && !out.contains(g))
            out << g;
    }
    if (out.isEmpty())
        out << QStringLiteral("public");
    return out;
}

bool StandInRegistry::groupsMeet(const QStringList& a, const QStringList& b)
{
    for (const QString& g : a) {
        if (b.contains(g))
            return true;
    }
    return false;
}
