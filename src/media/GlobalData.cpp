#include "GlobalData.h"

#include "base/BusIds.h"

#include "AudioMixSink.h"
#include "base/Globals.h"
#include "base/JsonFile.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QMutexLocker>

namespace {
} // namespace

GlobalData* GlobalData::instance()
{
    static GlobalData registry;
    return &registry;
}

QString GlobalData::filePath()
{
    return g_savePath + "/source_contents.json";
}

GlobalData::SourceMap GlobalData::initSourceMap()
{
    return {};
}

const SourceContent* GlobalData::find(const QString& pro_id, const QString& source) const
{
    if (pro_id.isEmpty() || source.isEmpty())
        return nullptr;
    const auto program = source_map.constFind(pro_id);
    if (program == source_map.constEnd())
        return nullptr;
    const auto entry = program->constFind(source);
    return entry == program->constEnd() ? nullptr : &entry.value();
}

void GlobalData::load()
{
    QMutexLocker lock(&registry_mutex);
    source_map = initSourceMap();
    const QJsonObject root = JsonFile::load(filePath());
    const QJsonValue data = root.value("data");
    if (!data.isArray())
        return;
    const QJsonArray programs = data.toArray();
    for (const QJsonValue& programValue : programs) {
        const QJsonObject program = programValue.toObject();
        if (!program.contains("pro_id") || !program.value("sources").isArray())
            continue;
        const QString pro_id = program.value("pro_id").toString();
        const QJsonArray sources = program.value("sources").toArray();
        if (pro_id.isEmpty() || sources.isEmpty())
            continue;
        // A later record of the same program replaces an earlier one.
        QMap<QString, SourceContent>& entries = source_map[pro_id];
        entries.clear();
        for (const QJsonValue& sourceValue : sources) {
            const QJsonObject s = sourceValue.toObject();
            if (!s.contains("source") || !s.contains("mix_type") || !s.contains("pattern_name"))
                continue;
            SourceContent& entry = entries[s.value("source").toString()];
            entry.src_ids.clear();
            entry.mix_type = s.value("mix_type").toString();
            entry.pattern_name = s.value("pattern_name").toString();
        }
    }
}

void GlobalData::save()
{
    QMutexLocker lock(&registry_mutex);
    QJsonArray data;
    for (auto program = source_map.constBegin(); program != source_map.constEnd(); ++program) {
        QJsonArray sources;
        for (auto entry = program->constBegin(); entry != program->constEnd(); ++entry) {
            sources.append(QJsonObject {
                { "source", entry.key() },
                { "mix_type", entry->mix_type },
                { "pattern_name", entry->pattern_name },
            });
        }
        data.append(QJsonObject { { "pro_id", program.key() }, { "sources", sources } });
    }
    JsonFile::save(filePath(), QJsonObject { { "data", data } });
}

bool GlobalData::setStoredText(
    const QString& pro_id, const QString& source, QString SourceContent::*field, const QString& value)
{
    if (pro_id.isEmpty() || source.isEmpty())
        return false;
    QMutexLocker lock(&registry_mutex);
    source_map[pro_id][source].*field = value;
    save();
    return true;
}

QString GlobalData::storedText(const QString& pro_id, const QString& source, QString SourceContent::*field) const
{
    QMutexLocker lock(&registry_mutex);
    const SourceContent* entry = find(pro_id, source);
    return entry ? entry->*field : QString();
}

bool GlobalData::setAudioMixType(const QString& pro_id, const QString& source, const QString& type)
{
    return setStoredText(pro_id, source, &SourceContent::mix_type, type);
}

QString GlobalData::getAudioMixType(const QString& pro_id, const QString& source) const
{
    return storedText(pro_id, source, &SourceContent::mix_type);
}

bool GlobalData::setPatternName(const QString& pro_id, const QString& source, const QString& name)
{
    return setStoredText(pro_id, source, &SourceContent::pattern_name, name);
}

QString GlobalData::getPatternName(const QString& pro_id, const QString& source) const
{
    return storedText(pro_id, source, &SourceContent::pattern_name);
}

bool GlobalData::setAudioSink(
    const QString& pro_id, const QString& source, const QString& bus, std::shared_ptr<AudioMixSink> sink)
{
    if (pro_id.isEmpty() || source.isEmpty() || bus.isEmpty())
        return false;
    QMutexLocker lock(&registry_mutex);
    if (bus == BusId::pvw())
        source_map[pro_id][source].pvw_sink = std::move(sink);
    else if (bus == BusId::pgm())
        source_map[pro_id][source].pgm_sink = std::move(sink);
    return true;
}

bool GlobalData::removeAudioSink(const QString& pro_id, const QString& source, const QString& bus)
{
    if (pro_id.isEmpty() || source.isEmpty() || bus.isEmpty())
        return false;
    QMutexLocker lock(&registry_mutex);
    auto program = source_map.find(pro_id);
    if (program == source_map.end())
        return true;
    auto entry = program->find(source);
    if (entry == program->end())
        return true;
    if (bus == BusId::pvw())
        entry->pvw_sink.reset();
    else if (bus == BusId::pgm())
        entry->pgm_sink.reset();
    return true;
}

std::shared_ptr<AudioMixSink> GlobalData::getAudioSink(
    const QString& pro_id, const QString& source, const QString& bus) const
{
    QMutexLocker lock(&registry_mutex);
    const SourceContent* entry = find(pro_id, source);
    if (!entry)
        return nullptr;
    if (bus == BusId::pvw())
        return entry->pvw_sink;
    if (bus == BusId::pgm())
        return entry->pgm_sink;
    return nullptr;
}

bool GlobalData::setSrcId(const QString& pro_id, const QString& source, const QString& id)
{
    if (pro_id.isEmpty() || source.isEmpty() || id.isEmpty())
        return false;
    QMutexLocker lock(&registry_mutex);
    QStringList& ids = source_map[pro_id][source].src_ids;
    if (!ids.contains(id))
        ids.append(id);
    return true;
}

bool GlobalData::removeSrcId(const QString& pro_id, const QString& source, const QString& id)
{
    if (pro_id.isEmpty() || source.isEmpty() || id.isEmpty())
        return false;
    QMutexLocker lock(&registry_mutex);
    source_map[pro_id][source].src_ids.removeOne(id);
    return true;
}

int GlobalData::getSrcCount(const QString& pro_id, const QString& source) const
{
    QMutexLocker lock(&registry_mutex);
    const SourceContent* entry = find(pro_id, source);
    return entry ? entry->src_ids.size() : 0;
}

void GlobalData::destroy()
{
    QMutexLocker lock(&registry_mutex);
    for (auto& program : source_map) {
        for (auto& entry : program) {
            entry.pvw_sink.reset();
            entry.pgm_sink.reset();
        }
    }
}
