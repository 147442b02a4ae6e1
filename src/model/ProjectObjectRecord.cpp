// ProjectObject: the program record of "programs.json", the program folder
// with its window and preset files, and the change slots that say which
// files a change touched.
#include "ProjectObject.h"

#include "base/BusIds.h"

#include "Preset.h"
#include "WindowObject.h"
#include "base/JsonFile.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRecursiveMutex>
#include <QRegularExpression>

#include <algorithm>
#include <functional>

namespace {

// The files of one kind in a folder ("preset_*.json"), each with the id after
// the last "_" of its base name.
QList<QPair<QString, QString>> listIdFiles(const QString& folder, const QString& pattern)
{
    QList<QPair<QString, QString>> files;
    const QDir dir(folder);
    if (!dir.exists())
        return files;
    const QFileInfoList entries = dir.entryInfoList({ pattern }, QDir::Files, QDir::NoSort);
    for (const QFileInfo& entry : entries) {
        const QString base = entry.fileName().section('.', 0, 0);
        if (!base.contains('_'))
            continue;
        files.append({ base.section('_', -1), entry.filePath() });
    }
    return files;
}

// Reads a state file that is there and readable; text that does not parse
// gives an empty object, which the reader of the kind deals with.
bool readStateFile(const QString& path, QJsonObject& object)
{
    QFile file(path);
    if (!file.exists() || !file.open(QIODevice::ReadOnly))
        return false;
    file.close();
    object = JsonFile::load(path);
    return true;
}

} // namespace

// ---- The program record ----------------------------------------------------

void ProjectObject::write(QJsonObject& record) const
{
    record.insert("pro_id", pro_id);
    record.insert("name", name);
    record.insert("status", status);
    record.insert("frameRate", frameRate);
    record.insert("width", width);
    record.insert("height", height);
    record.insert("index", index);
    record.insert("aspect", aspect);
    record.insert("take_time", take_time);
    record.insert("take_select", take_select);
}

bool ProjectObject::read(const QJsonObject& record)
{
    // Every member that is there is taken, so a record that lost a member
    // keeps its id and the rest of its values; only the missing ones keep
    // their current (at start: default) values.
    bool complete = true;
    const auto take = [&record, &complete](const char* key, const std::function<void(const QJsonValue&)>& store) {
        const QJsonValue value = record.value(QLatin1String(key));
        if (value.isUndefined())
            complete = false;
        else
            store(value);
    };
    take("pro_id", [this](const QJsonValue& v) { pro_id = v.toString(); });
    take("name", [this](const QJsonValue& v) { name = v.toString(); });
    take("status", [this](const QJsonValue& v) { status = v.toBool(); });
    take("frameRate", [this](const QJsonValue& v) { frameRate = v.toDouble(); });
    take("width", [this](const QJsonValue& v) { width = v.toDouble(); });
    take("height", [this](const QJsonValue& v) { height = v.toDouble(); });
    take("index", [this](const QJsonValue& v) { index = v.toInt(); });
    take("aspect", [this](const QJsonValue& v) { aspect = v.toDouble(); });
    take("take_time", [this](const QJsonValue& v) { take_time = v.toInt(); });
    take("take_select", [this](const QJsonValue& v) { take_select = v.toInt(); });
    if (!complete)
        qDebug() << "ProjectObject read failed.";

    applyBusParams();
    return complete;
}

// ---- The program folder ----------------------------------------------------

bool ProjectObject::load()
{
    for (const auto& file : listIdFiles(path + "/presets", "preset_*.json")) {
        const QString& layout_id = file.first;
        QJsonObject object;
        if (!readStateFile(file.second, object) || presets.contains(layout_id))
            continue;
        lastPresetId = std::max(lastPresetId, layout_id.toInt());
        QSharedPointer<Preset> preset(new Preset);
        presets.insert(layout_id, preset);
        preset->readPresetFile(object);
        if (!preset->getLayoutName().isEmpty())
            presetNames.insert(layout_id, preset->getLayoutName());
    }

    for (const auto& file : listIdFiles(path + "/windows", "window_*.json")) {
        const QString& win_id = file.first;
        QJsonObject object;
        if (!readStateFile(file.second, object) || windows.contains(win_id))
            continue;
        if (!BusId::isBus(win_id))
            lastWinId = std::max(lastWinId, win_id.toInt());
        QSharedPointer<WindowObject> window = newWindow();
        windows.insert(win_id, window);
        window->read(object);
        windowNames.insert(win_id, window->getWinName());
        if (object.contains("angles"))
            window->readAngles(object.value("angles").toArray());
    }

    qDebug() << "ProjectObject load presets and windows.";
    return true;
}

bool ProjectObject::save()
{
    QMutexLocker lock(modelLock);
    for (const QString& win_id : windows.keys())
        saveWindow(win_id);
    for (const QString& layout_id : presets.keys())
        savePreset(layout_id);
    qDebug() << "ProjectObject save presets and windows.";
    return true;
}

bool ProjectObject::windowFile(const QString& win_id, QJsonObject& object) const
{
    const QSharedPointer<WindowObject> window = windows.value(win_id);
    if (!window)
        return false;
    window->write(object);
    object.insert("angles", window->writeAngles());
    return true;
}

bool ProjectObject::presetFile(const QString& layout_id, QJsonObject& object) const
{
    const QSharedPointer<Preset> preset = presets.value(layout_id);
    if (!preset)
        return false;
    object = preset->writePresetFile();
    return true;
}

bool ProjectObject::stateFile(StateFile kind, const QString& id, QJsonObject& object) const
{
    return kind == StateFile::Window ? windowFile(id, object) : presetFile(id, object);
}

bool ProjectObject::saveWindow(const QString& win_id)
{
    return saveStateFile(StateFile::Window, win_id);
}

bool ProjectObject::savePreset(const QString& layout_id)
{
    return saveStateFile(StateFile::Preset, layout_id);
}

bool ProjectObject::saveStateFile(StateFile kind, const QString& id)
{
    QJsonObject object;
    {
        QMutexLocker lock(modelLock);
        if (!stateFile(kind, id, object)) {
            const bool window = kind == StateFile::Window;
            qDebug() << QString("ProjectObject %1 failed, because %2[%3] is invalid.")
                            .arg(window ? "saveWindow" : "savePreset", window ? "win_id" : "layout_id", id);
            return false;
        }
    }
    return writeStateFile(kind, id, object);
}

void ProjectObject::setSaveRequest(SaveRequest request)
{
    saveRequest = std::move(request);
}

void ProjectObject::saveLater(StateFile kind, const QString& id)
{
    if (id.isEmpty())
        return;
    if (saveRequest)
        saveRequest(kind, id);
    else
        storeFile(kind, id);
}

void ProjectObject::saveFilesLater(bool withPresets)
{
    QMutexLocker lock(modelLock);
    for (const QString& win_id : windows.keys())
        saveLater(StateFile::Window, win_id);
    if (withPresets) {
        for (const QString& layout_id : presets.keys())
            saveLater(StateFile::Preset, layout_id);
    }
}

void ProjectObject::storeFile(StateFile kind, const QString& id)
{
    const bool window = kind == StateFile::Window;
    // The state is copied under the lock and written outside it; the save
    // queue runs one store of a file at a time, in the order of its marks.
    QJsonObject object;
    bool exists = false;
    {
        QMutexLocker lock(modelLock);
        exists = stateFile(kind, id, object);
    }
    if (exists)
        writeStateFile(kind, id, object);
    else if (isStoredId(id) || (window && BusId::isBus(id)))
        removeFile(path + (window ? "/windows/window_" : "/presets/preset_") + id + ".json");
}

bool ProjectObject::writeStateFile(StateFile kind, const QString& id, const QJsonObject& object) const
{
    if (kind == StateFile::Window)
        return saveFile("saveWindow", "win", "/windows", "win", "/window_" + id + ".json", object);
    return saveFile("savePreset", "presets", "/presets", "preset", "/preset_" + id + ".json", object);
}

bool ProjectObject::saveFile(const char* operation, const char* folderKind, const QString& folderName,
    const char* fileKind, const QString& fileName, const QJsonObject& object) const
{
    const QString failed = QStringLiteral("ProjectObject %1 failed, because ").arg(operation);
    if (!QDir().mkpath(path)) {
        qDebug() << failed + QString("make pro path[%1] failed.").arg(path);
        return false;
    }
    const QString folder = path + folderName;
    if (!QDir().mkpath(folder)) {
        qDebug() << failed + QString("make %1 path[%2] failed.").arg(folderKind, folder);
        return false;
    }
    const QString file = folder + fileName;
    if (!JsonFile::save(file, object)) {
        qDebug() << failed + QString("open %1 path[%2] failed.").arg(fileKind, file);
        return false;
    }
    return true;
}

void ProjectObject::removeFile(const QString& file) const
{
    if (QFile::exists(file))
        QFile::remove(file);
}

// The id of a removal comes from a request and becomes part of a file name:
// only ids of the program's own kind qualify, and only once the window or
// preset has left its map (a refused removal keeps its file).
bool ProjectObject::isStoredId(const QString& id)
{
    static const QRegularExpression digits(QStringLiteral("^[0-9]+$"));
    return digits.match(id).hasMatch();
}

// The change slots name the files a change touched. A removal's file is
// stored like any other: it goes once its window or preset has left the map,
// and a refused removal keeps it.
void ProjectObject::onWindowChanged(WINDOWTYPE, const QString& win_id)
{
    // An add names the id it reserved, never "the newest window": adds from
    // several clients may all have run before this.
    saveLater(StateFile::Window, win_id);
}

void ProjectObject::onPresetChanged(PRESETTYPE, const QString& layout_id)
{
    saveLater(StateFile::Preset, layout_id);
}

void ProjectObject::onGridChanged(GRIDTYPE type, const QString& win_id)
{
    onGridChanged(type, win_id, QString());
}

void ProjectObject::onGridChanged(GRIDTYPE type, const QString& win_id, const QString& layout_id)
{
    switch (type) {
    case GRID_BUS_WINDOWS:
        saveLater(StateFile::Window, BusId::pvw());
        saveLater(StateFile::Window, BusId::pgm());
        break;
    case GRID_RESAVE_LAYOUT:
    case GRID_SAVE_LAYOUT:
        // The preset named when the change was made: by now the counter may
        // have moved on and the window may show another layout.
        saveLater(StateFile::Preset, layout_id);
        saveLater(StateFile::Window, win_id);
        break;
    default:
        saveLater(StateFile::Window, win_id);
        break;
    }
}
