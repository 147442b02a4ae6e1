#include "SourceManager.h"

#include "base/ApiReplies.h"
#include "base/Clock.h"

#include "NDIConnection.h"
#include "base/Globals.h"
#include "base/JsonFile.h"

#include <QDebug>
#include <QJsonArray>
#include <QJsonDocument>
#include <QStringList>

#include <algorithm>
#include <chrono>
#include <vector>

namespace {

// How long a pass waits for a group's finder to report a change.
constexpr uint32_t kFinderWaitMs = 100;
// Pause after a finder could not be made, and of a pass without groups.
constexpr unsigned long kRetryPauseMs = 200;
constexpr unsigned long kIdlePassMs = 100;
constexpr auto kConnectionLockWait = std::chrono::milliseconds(200);

const QString kAuto = QStringLiteral("Auto");
const QString kManual = QStringLiteral("Manual");

QString sourcesFile()
{
    return g_savePath + QStringLiteral("/sources.json");
}

QString text(const char* utf8)
{
    return utf8 ? QString::fromUtf8(utf8) : QString();
}

// The "group" list of an "Auto" request: every element but null, as text
// (a value that is not text gives an empty part, which is kept).
QString autoGroupList(const QJsonValue& value)
{
    QStringList parts;
    const QJsonArray elements = value.toArray();
    for (const QJsonValue& element : elements) {
        if (!element.isNull())
            parts << element.toString();
    }
    return parts.join(',');
}

// The "group" and "ip" lists of a "Manual" request: the non-empty texts.
QString manualList(const QJsonValue& value)
{
    QStringList parts;
    const QJsonArray elements = value.toArray();
    for (const QJsonValue& element : elements) {
        const QString part = element.toString();
        if (!part.isEmpty())
            parts << part;
    }
    return parts.join(',');
}

// The stored comma-separated list as the requests send it: nothing for an
// empty text, otherwise every part, empty ones included.
QJsonArray splitList(const QString& list)
{
    return list.isEmpty() ? QJsonArray() : QJsonArray::fromStringList(list.split(','));
}

// Applies the discovery settings of an "Auto" or "Manual" request to the
// group; true when a stored value changed.
bool applyDiscoverySettings(SourceGroup& group, const QString& type, const QJsonObject& req)
{
    if (type == kAuto) {
        const bool enable = req.value("discovery_enable").toBool(false);
        const QString ip = req.value("discovery_ip").toString();
        const QString list = autoGroupList(req.value("group"));
        if (group.auto_groups == list && group.server_enable == enable && group.server_ip == ip)
            return false;
        group.auto_groups = list;
        group.server_enable = enable;
        group.server_ip = ip;
        return true;
    }
    if (type == kManual) {
        const QString list = manualList(req.value("group"));
        const QString ips = manualList(req.value("ip"));
        if (group.manual_groups == list && group.manual_ips == ips)
            return false;
        group.manual_groups = list;
        group.manual_ips = ips;
        return true;
    }
    return false;
}

// Whether a request carries the keys its discovery type needs.
bool hasDiscoveryKeys(const QString& type, const QJsonObject& req, bool groupMustBeArray)
{
    if (type == kAuto)
        return req.contains("group") && (!groupMustBeArray || req.value("group").isArray())
            && req.contains("discovery_enable") && req.contains("discovery_ip");
    if (type == kManual)
        return req.contains("group") && req.contains("ip");
    return true;
}

} // namespace

bool compareSrcData(const QString& a, const QString& b)
{
    bool ok = false;
    qulonglong left = a.toULongLong(&ok);
    if (!ok)
        left = 0;
    qulonglong right = b.toULongLong(&ok);
    if (!ok)
        right = 0;
    return left < right;
}

SourceManager* SourceManager::instance()
{
    static SourceManager manager;
    return &manager;
}

SourceManager::SourceManager()
{
    setObjectName("source discovery");
    SourceGroup& group = groups[QStringLiteral("1")];
    group.name = QStringLiteral("auto-discovery");
    group.disc_type = kAuto;
    group.auto_groups = QStringLiteral("public");
    groupNames.insert(QStringLiteral("1"), group.name);
}

SourceManager::~SourceManager()
{
    destroyThread();
}

// --- Discovery ----------------------------------------------------------------

void SourceManager::startDiscover()
{
    stopRequested = false;
    start(QThread::InheritPriority);
}

void SourceManager::stopDiscover()
{
    destroyThread();
    saves.drain();
}

void SourceManager::destroyThread()
{
    if (isRunning()) {
        stopRequested = true;
        quit();
        wait();
    }
    std::vector<NDIlib_find_instance_t> finders;
    std::vector<std::shared_ptr<MediaConnection>> connections;
    {
        Lock lock(tableLock);
        for (auto& [id, group] : groups) {
            if (group.finder)
                finders.push_back(group.finder);
            group.finder = nullptr;
        }
        for (auto& [name, entry] : sourceTable) {
            if (entry.connection)
                connections.push_back(std::move(entry.connection));
        }
    }
    for (NDIlib_find_instance_t finder : finders)
        NDIlib_find_destroy(finder);
    // Outside the lock: stopping joins the connection's threads, which may
    // be waiting for the lock to report capabilities.
    for (auto& connection : connections) {
        if (connection.use_count() == 1)
            connection->stopPlay();
        connection.reset();
    }
}

void SourceManager::forceRefresh()
{
    Lock lock(tableLock);
    refreshRequested = true;
}

std::shared_ptr<MediaConnection> SourceManager::getConnection(const QString& name)
{
    Lock lock(tableLock, std::defer_lock);
    if (!lock.try_lock_until(std::chrono::steady_clock::now() + kConnectionLockWait))
        return nullptr;
    const auto it = sourceTable.find(name);
    return it == sourceTable.end() ? nullptr : it->second.connection;
}

void SourceManager::updateCapabilities(const QString& name, int bw)
{
    Lock lock(tableLock);
    const auto it = sourceTable.find(name);
    if (it == sourceTable.end() || !it->second.connection)
        return;
    const auto fresh = it->second.connection->getCapabilities(MediaConnection::BandWidth_t(bw));
    if (!fresh)
        return;
    Media_capabilities_t& held = it->second.capabilities;
    const bool changed = held.type != fresh->type || held.web_url != fresh->web_url || held.talk_url != fresh->talk_url
        || held.support_ptz != fresh->support_ptz || held.support_kvm != fresh->support_kvm || held.pvw != fresh->pvw
        || held.pgm != fresh->pgm;
    held = *fresh;
    if (!changed)
        return;
    const Media_capabilities_t now = held;
    const QString address = it->second.address;
    lock.unlock();
    emit sourceUpdated(QString::fromStdString(now.type), name, address, QString::fromStdString(now.web_url),
        QString::fromStdString(now.talk_url), now.support_ptz, now.support_kvm, now.pvw, now.pgm);
}

void SourceManager::run()
{
    if (stopRequested)
        return;
    do {
        discoveryPass();
    } while (!stopRequested);
}

std::shared_ptr<MediaConnection> SourceManager::makeConnection()
{
    return std::make_shared<NDIConnection>();
}

void SourceManager::discoveryPass()
{
    QStringList ids;
    std::vector<NDIlib_find_instance_t> dropped;
    {
        Lock lock(tableLock);
        const bool refresh = refreshRequested.exchange(false);
        for (auto& [id, group] : groups) {
            ids << id;
            if (refresh && group.finder) {
                dropped.push_back(group.finder);
                group.finder = nullptr;
                group.finderStale = true;
            }
        }
    }
    for (NDIlib_find_instance_t finder : dropped)
        NDIlib_find_destroy(finder);

    for (const QString& id : ids) {
        // Only this thread erases groups, so the node stays valid after the
        // lock is released; its finder is this thread's alone.
        SourceGroup* group = nullptr;
        bool stale = false;
        {
            Lock lock(tableLock);
            const auto it = groups.find(id);
            if (it == groups.end())
                continue;
            if (it->second.removed) {
                NDIlib_find_instance_t finder = it->second.finder;
                groups.erase(it);
                lock.unlock();
                if (finder)
                    NDIlib_find_destroy(finder);
                continue;
            }
            group = &it->second;
            stale = group->finderStale;
        }
        if (!stale && group->finder) {
            pollGroup(*group);
        } else if (makeFinder(*group)) {
            pollGroup(*group, true);
        } else {
            qWarning() << "ERROR: Fail to create NDI finder!";
            QThread::msleep(kRetryPauseMs);
        }
    }
    if (ids.isEmpty())
        QThread::msleep(kIdlePassMs);

    connectFoundSources();
    ageSources();
}

bool SourceManager::makeFinder(SourceGroup& group)
{
    if (group.finder) {
        NDIlib_find_destroy(group.finder);
        group.finder = nullptr;
    }
    QByteArray groupList, extraIps, config;
    QString name;
    {
        Lock lock(tableLock);
        // Cleared before the settings are read: a change made while the
        // finder is being made marks it stale again.
        group.finderStale = false;
        name = group.name;
        const bool automatic = group.disc_type == kAuto;
        groupList = (automatic ? group.auto_groups : group.manual_groups).toUtf8();
        if (groupList.isEmpty())
            groupList = "public";
        if (!automatic)
            extraIps = group.manual_ips.toUtf8();
        QJsonObject ndi;
        if (group.server_enable && !group.server_ip.isEmpty())
            ndi.insert("networks", QJsonObject { { "discovery", group.server_ip } });
        config = QJsonDocument(QJsonObject { { "ndi", ndi } }).toJson(QJsonDocument::Compact);
    }
    NDIlib_find_create_t settings;
    settings.show_local_sources = true;
    settings.p_groups = groupList.constData();
    settings.p_extra_ips = extraIps.isEmpty() ? nullptr : extraIps.constData();
    NDIlib_find_instance_t finder = NDIlib_find_create_v3(&settings, config.constData());

    Lock lock(tableLock);
    if (!finder) {
        group.finderStale = true;
        return false;
    }
    group.finder = finder;
    // Every source has to be listed again by some group before it counts
    // as present; those that are not age out.
    for (auto& [sourceName, entry] : sourceTable)
        entry.present = false;
    qDebug() << "------------------------create new find instance " << name;
    return true;
}

void SourceManager::pollGroup(SourceGroup& group, bool fresh)
{
    if (!NDIlib_find_wait_for_sources(group.finder, kFinderWaitMs) && !fresh)
        return;
    uint32_t count = 0;
    const NDIlib_source_t* list = NDIlib_find_get_current_sources(group.finder, &count);

    Lock lock(tableLock);
    // Removed while the finder waited: it lists nothing any more.
    if (group.removed)
        return;
    group.foundSources.clear();
    for (uint32_t i = 0; list && i < count; ++i) {
        const QString name = text(list[i].p_ndi_name);
        const QString address = text(list[i].p_url_address);
        const QString ip = address.section(':', 0, 0);
        const int64_t now = monotonicMs();
        // A manual group accepts the addresses its list mentions (a plain
        // text search over the comma-separated list).
        if (group.disc_type != kAuto && !group.manual_ips.contains(ip))
            continue;
        const QString held = group.foundSources.value(name);
        group.foundSources.insert(name, address);
        if (!held.isEmpty())
            group.lastAddressChangeMs = now;
        for (auto& [id, other] : groups) {
            const auto found = other.foundSources.find(name);
            if (found == other.foundSources.end() || found.value() == address)
                continue;
            const QString old = found.value();
            found.value() = address;
            if (!old.isEmpty())
                other.lastAddressChangeMs = now;
            qDebug() << "SourceManager::modifySourceList : " << other.name << name << " " << address;
        }
    }
}

void SourceManager::connectFoundSources()
{
    struct Found {
        QString name;
        QString address;
        int64_t lastAddressChangeMs;
    };
    std::vector<Found> found;
    {
        Lock lock(tableLock);
        for (const auto& [id, group] : groups) {
            for (auto it = group.foundSources.cbegin(); it != group.foundSources.cend(); ++it)
                found.push_back({ it.key(), it.value(), group.lastAddressChangeMs });
        }
    }
    for (const Found& source : found) {
        std::shared_ptr<MediaConnection> connection;
        {
            Lock lock(tableLock);
            const auto it = sourceTable.find(source.name);
            if (it != sourceTable.end())
                connection = it->second.connection;
        }
        if (!connection) {
            connection = makeConnection();
            connect(connection.get(), &MediaConnection::updateCapabilities, this, &SourceManager::updateCapabilities,
                Qt::DirectConnection);
            // Listed from here on, so it comes with its address at once.
            Lock lock(tableLock);
            SourceEntry& entry = sourceTable[source.name];
            entry.connection = connection;
            entry.name = source.name;
            entry.address = source.address;
        }
        const int64_t now = monotonicMs();
        if (source.lastAddressChangeMs == 0 || now - source.lastAddressChangeMs >= kAddressSettleMs)
            connection->setSource(MediaConnection::BandWidthBoth, source.name, source.address);

        Lock lock(tableLock);
        SourceEntry& entry = sourceTable[source.name];
        if (entry.connection) {
            entry.present = true;
            entry.lastSeenMs = now;
        }
        entry.name = source.name;
        entry.address = source.address;
    }
}

void SourceManager::ageSources()
{
    std::vector<std::pair<QString, std::shared_ptr<MediaConnection>>> gone;
    {
        Lock lock(tableLock);
        for (auto it = sourceTable.begin(); it != sourceTable.end();) {
            const SourceEntry& entry = it->second;
            const int64_t now = monotonicMs();
            if (!entry.present && uint64_t(now - entry.lastSeenMs) >= uint64_t(kAgeOutMs)) {
                gone.emplace_back(it->first, std::move(it->second.connection));
                it = sourceTable.erase(it);
            } else {
                ++it;
            }
        }
    }
    // Outside the lock: the last share of a connection joins its threads,
    // which may be waiting for the lock to report capabilities.
    for (auto& [name, connection] : gone) {
        if (connection)
            connection->setSource(MediaConnection::BandWidthBoth, QString(), QString());
        connection.reset();
        emit sourceUpdated(QStringLiteral("none"), name, QString(), QString(), QString(), false, false, false, false);
    }
}

// --- Source groups and the sources file ----------------------------------------

void SourceManager::load()
{
    bool ok = false;
    const QJsonObject stored = JsonFile::load(sourcesFile(), &ok);
    if (ok)
        read(stored);
    qDebug() << "SourceManager::load() done.";
}

void SourceManager::read(const QJsonObject& obj)
{
    const QJsonValue data = obj.value("data");
    if (!data.isArray())
        return;
    Lock lock(tableLock);
    const QJsonArray entries = data.toArray();
    for (const QJsonValue& element : entries) {
        const QJsonObject stored = element.toObject();
        const QString id = stored.value("disc_id").toString();
        if (id.isEmpty())
            continue;
        lastDiscId = std::max(lastDiscId, id.toInt());
        SourceGroup& group = groups[id];
        group.name = stored.value("name").toString();
        group.disc_type = stored.value("disc_type").toString();
        group.auto_groups = stored.value("auto_groups").toString();
        group.server_enable = stored.value("server_enable").toBool(false);
        group.server_ip = stored.value("server_ip").toString();
        group.manual_groups = stored.value("manual_groups").toString();
        group.manual_ips = stored.value("manual_ips").toString();
        groupNames.insert(id, group.name);
    }
}

void SourceManager::write(QJsonObject& obj)
{
    QJsonArray data;
    Lock lock(tableLock);
    for (const auto& [id, group] : groups) {
        if (group.removed)
            continue;
        data.append(QJsonObject {
            { "disc_id", id },
            { "name", group.name },
            { "disc_type", group.disc_type },
            { "auto_groups", group.auto_groups },
            { "server_enable", group.server_enable },
            { "server_ip", group.server_ip },
            { "manual_groups", group.manual_groups },
            { "manual_ips", group.manual_ips },
        });
    }
    obj.insert("data", data);
}

void SourceManager::onSourceListChanged()
{
    writeSourcesFile(sourcesFile());
}

void SourceManager::writeSourcesFile(const QString& file)
{
    QJsonObject obj;
    write(obj);
    QString error;
    if (!JsonFile::save(file, obj, &error))
        qWarning() << "SourceManager: cannot write the sources file:" << error;
}

void SourceManager::saveLater()
{
    const QString file = sourcesFile();
    saves.mark(file, [this, file] { writeSourcesFile(file); });
}

SourceGroup* SourceManager::liveGroup(const QString& disc_id)
{
    // A removed group waits for the discovery loop to erase it; to
    // requests it is gone already.
    const auto it = groups.find(disc_id);
    return it == groups.end() || it->second.removed ? nullptr : &it->second;
}

bool SourceManager::addSourceList(const QJsonObject& req, QString& error)
{
    if (!req.contains("disc_name") || !req.contains("disc_type"))
        return false;
    Lock lock(tableLock);
    // The number is used up even when the add fails below.
    const QString id = QString::number(++lastDiscId);
    const QString name = req.value("disc_name").toString();
    const QString type = req.value("disc_type").toString();
    if (std::find(groupNames.cbegin(), groupNames.cend(), name) != groupNames.cend()) {
        error = QStringLiteral("discovery.nameError");
        return false;
    }
    if (!hasDiscoveryKeys(type, req, true))
        return false;
    groupNames.insert(id, name);
    SourceGroup& group = groups[id];
    group.name = name;
    group.disc_type = type;
    applyDiscoverySettings(group, type, req);
    group.finderStale = true;
    lock.unlock();
    saveLater();
    return true;
}

bool SourceManager::modifySourceList(const QJsonObject& req, QString& error)
{
    if (!req.contains("disc_id") || !req.contains("disc_name") || !req.contains("disc_type"))
        return false;
    const QString id = req.value("disc_id").toString();
    const QString name = req.value("disc_name").toString();
    const QString type = req.value("disc_type").toString();
    Lock lock(tableLock);
    const auto current = groupNames.constFind(id);
    if (current != groupNames.cend() && current.value() != name
        && std::find(groupNames.cbegin(), groupNames.cend(), name) != groupNames.cend()) {
        error = QStringLiteral("discovery.nameError");
        return false;
    }
    SourceGroup* group = liveGroup(id);
    if (!group || !hasDiscoveryKeys(type, req, false))
        return false;
    groupNames.insert(id, name);
    group->name = name;
    bool changed = group->disc_type != type;
    group->disc_type = type;
    changed = applyDiscoverySettings(*group, type, req) || changed;
    // A new name alone keeps the finder.
    if (changed)
        group->finderStale = true;
    lock.unlock();
    saveLater();
    return true;
}

bool SourceManager::removeSourceList(const QJsonObject& req)
{
    if (!req.contains("disc_id"))
        return false;
    const QString id = req.value("disc_id").toString();
    Lock lock(tableLock);
    SourceGroup* group = liveGroup(id);
    if (!group)
        return false;
    group->foundSources.clear();
    group->removed = true;
    groupNames.remove(id);
    lock.unlock();
    saveLater();
    return true;
}

QJsonObject SourceManager::getSourceList(const QJsonObject& req)
{
    if (!req.contains("disc_id"))
        return apireply::error();
    const QString id = req.value("disc_id").toString();
    Lock lock(tableLock);
    const SourceGroup* group = liveGroup(id);
    if (!group)
        return apireply::ok("");
    QJsonObject data {
        { "disc_id", id },
        { "disc_name", group->name },
        { "disc_type", group->disc_type },
    };
    if (group->disc_type == kAuto) {
        data.insert("group", splitList(group->auto_groups));
        data.insert("discovery_enable", group->server_enable);
        data.insert("discovery_ip", group->server_ip);
    } else if (group->disc_type == kManual) {
        data.insert("group", splitList(group->manual_groups));
        data.insert("ip", splitList(group->manual_ips));
    }
    return apireply::ok(data);
}

QJsonObject SourceManager::sourcesToJson()
{
    Lock lock(tableLock);
    if (groups.empty())
        return apireply::error();
    QStringList ids = groupNames.keys();
    std::stable_sort(ids.begin(), ids.end(), compareSrcData);
    QJsonArray data;
    for (const QString& id : ids) {
        const SourceGroup* group = liveGroup(id);
        if (!group)
            continue;
        QJsonArray sources;
        for (auto it = group->foundSources.cbegin(); it != group->foundSources.cend(); ++it) {
            const auto entry = sourceTable.find(it.key());
            if (entry == sourceTable.end())
                continue;
            sources.append(QJsonObject {
                { "id", it.key() },
                { "name", it.key() },
                { "ip", entry->second.address },
                { "url", QString::fromStdString(entry->second.capabilities.web_url) },
            });
        }
        data.append(QJsonObject { { "disc_id", id }, { "disc_name", group->name }, { "sources", sources } });
    }
    return apireply::ok(data);
}
