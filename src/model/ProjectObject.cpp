#include "ProjectObject.h"

#include "base/ApiReplies.h"
#include "base/BusIds.h"
#include "base/ThreadCheck.h"

#include "AudioOutputMixer.h"
#include "FrameQueue.h"
#include "GlobalData.h"
#include "JsonFile.h"
#include "LayoutTemplate.h"
#include "Preset.h"
#include "PreviewFrame.h"
#include "ProgramFrame.h"
#include "PtzControl.h"
#include "WebSocketServer.h"
#include "WebrtcManager.h"
#include "WindowObject.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
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

QJsonObject resolutionJson(double width, double height, int index, double aspect)
{
    return QJsonObject { { "width", width }, { "height", height }, { "index", index }, { "aspect", aspect } };
}

} // namespace

bool compareData(const QString& a, const QString& b)
{
    return a.toUInt(nullptr, 10) < b.toUInt(nullptr, 10);
}

ProjectObject::ProjectObject(QRecursiveMutex* lock)
    : modelLock(lock)
    , layoutTemplate(new LayoutTemplate)
{
    // The source operations queue saves on this object by name.
    qRegisterMetaType<GRIDTYPE>("GRIDTYPE");
}

ProjectObject::~ProjectObject()
{
    delete layoutTemplate;
    layoutTemplate = nullptr;
    if (pvwMixer)
        pvwMixer->destroy();
    if (pgmMixer)
        pgmMixer->destroy();
    presets.clear();
    for (auto it = windows.begin(); it != windows.end(); ++it) {
        if (it.value()) {
            it.value()->destroy();
            it.value().reset();
        }
    }
    windows.clear();
    pvwMixer.reset();
    pgmMixer.reset();
}

void ProjectObject::setPath(const QString& p)
{
    path = p;
}

void ProjectObject::setWebUrl(const QString& url)
{
    webUrl = url;
}

void ProjectObject::setName(const QString& newName)
{
    if (newName == name)
        return;
    name = newName;
    for (const QSharedPointer<WindowObject>& window : qAsConst(windows)) {
        if (window)
            window->changeProName(name);
    }
}

void ProjectObject::setParams(
    const QString& id, const QString& newName, double newWidth, double newHeight, double newFrameRate)
{
    pro_id = id;
    name = newName;
    width = newWidth;
    height = newHeight;
    frameRate = newFrameRate;
    if (QSharedPointer<WindowObject> pvw = windows.value(BusId::pvw()))
        pvw->setWinParams(pro_id, name, BusId::pvw(), "PVW", width, height, frameRate);
    if (QSharedPointer<WindowObject> pgm = windows.value(BusId::pgm()))
        pgm->setWinParams(pro_id, name, BusId::pgm(), "PGM", width, height, frameRate);
}

void ProjectObject::getParams(double& outWidth, double& outHeight, double& outFrameRate) const
{
    outWidth = width;
    outHeight = height;
    outFrameRate = frameRate;
}

void ProjectObject::setAspect(int newIndex, double newAspect)
{
    index = newIndex;
    aspect = newAspect;
}

void ProjectObject::getAspect(int& outIndex, double& outAspect) const
{
    outIndex = index;
    outAspect = aspect;
}

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

    if (QSharedPointer<WindowObject> pvw = windows.value(BusId::pvw()))
        pvw->setWinParams(pro_id, name, BusId::pvw(), "PVW", width, height, frameRate);
    if (QSharedPointer<WindowObject> pgm = windows.value(BusId::pgm()))
        pgm->setWinParams(pro_id, name, BusId::pgm(), "PGM", width, height, frameRate);
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
        QSharedPointer<WindowObject> window(new WindowObject);
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

bool ProjectObject::saveWindow(const QString& win_id)
{
    QJsonObject object;
    {
        QMutexLocker lock(modelLock);
        if (!windowFile(win_id, object)) {
            qDebug() << QString("ProjectObject saveWindow failed, because win_id[%1] is invalid.").arg(win_id);
            return false;
        }
    }
    return writeStateFile(StateFile::Window, win_id, object);
}

bool ProjectObject::savePreset(const QString& layout_id)
{
    QJsonObject object;
    {
        QMutexLocker lock(modelLock);
        if (!presetFile(layout_id, object)) {
            qDebug() << QString("ProjectObject savePreset failed, because layout_id[%1] is invalid.").arg(layout_id);
            return false;
        }
    }
    return writeStateFile(StateFile::Preset, layout_id, object);
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
        exists = window ? windowFile(id, object) : presetFile(id, object);
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

// ---- Mixers and windows ----------------------------------------------------

void ProjectObject::createAudioMixers()
{
    if (!pvwMixer)
        pvwMixer = std::make_shared<AudioOutputMixer>(BusId::pvw(), 48000, 2, 16, 10);
    if (!pgmMixer)
        pgmMixer = std::make_shared<AudioOutputMixer>(BusId::pgm(), 48000, 2, 16, 10);
    pvwMixer->setProId(pro_id);
    pgmMixer->setProId(pro_id);
    pvwMixer->Open();
    pgmMixer->Open();
}

QSharedPointer<WindowObject> ProjectObject::makeWindow(const QString& win_id, const QString& win_name)
{
    QSharedPointer<WindowObject> window(new WindowObject);
    windows.insert(win_id, window);
    window->setWinParams(pro_id, name, win_id, win_name, width, height, frameRate);
    return window;
}

void ProjectObject::createWindows()
{
    qDebug() << "ProjectObject createWindows" << onMainThread();

    if (!windows.isEmpty()) {
        for (auto it = windows.cbegin(); it != windows.cend(); ++it) {
            const QSharedPointer<WindowObject> window = it.value();
            if (!window)
                continue;
            window->setNdi_web_url(webUrl);
            window->setAudioMixerObject(pgmMixer, pvwMixer);
            window->createWindow();
            QString fromWinId;
            int fromPos = 0;
            window->getFromPosition(fromWinId, fromPos);
            if (it.key() == BusId::pvw() && pvwMixer)
                pvwMixer->setVideoSource(window->getSource(1), fromWinId, fromPos);
            else if (it.key() == BusId::pgm() && pgmMixer)
                pgmMixer->setVideoSource(window->getSource(1), fromWinId, fromPos);
            window->changeAll(pro_id, false);
            if (status)
                window->start();
            else
                window->stop();
        }
        return;
    }

    QList<QSharedPointer<WindowObject>> made;
    for (const auto& bus :
        { qMakePair(BusId::pvw(), QStringLiteral("PVW")), qMakePair(BusId::pgm(), QStringLiteral("PGM")) }) {
        QSharedPointer<WindowObject> window = makeWindow(bus.first, bus.second);
        window->setNdi_web_url(webUrl);
        window->setAudioMixerObject(pgmMixer, pvwMixer);
        window->createWindow();
        made.append(window);
    }

    QJsonObject layout = layoutTemplate->getSelecctTemplate("6");
    layout.remove("template_id");
    layout.remove("template_count");
    layout.insert("layout_id", "");
    layout.insert("layout_count", layoutTemplate->getLayoutCount("6"));
    layout.insert("name", "");
    for (const QSharedPointer<WindowObject>& bus : qAsConst(made))
        bus->setLayoutJson(pro_id, layout);

    const QString main_id = QString::number(++lastWinId);
    QSharedPointer<WindowObject> main = makeWindow(main_id, "Main");
    main->setAspect(index, aspect);
    main->setNdi_web_url(webUrl);
    main->setAudioMixerObject(pgmMixer, pvwMixer);
    main->createWindow();
    currentWinId = main_id;

    made.prepend(main);
    for (const QSharedPointer<WindowObject>& window : qAsConst(made)) {
        if (status)
            window->start();
        else
            window->stop();
    }
}

void ProjectObject::changeAudioDevice(QAudioDeviceInfo device)
{
    if (pvwMixer)
        pvwMixer->changeAudioDevice(device);
    if (pgmMixer)
        pgmMixer->changeAudioDevice(device);
}

void ProjectObject::destroy()
{
    for (const QSharedPointer<WindowObject>& window : qAsConst(windows)) {
        if (window)
            window->setPosition(0, false);
    }
    // The mixers end here, in the controller's ordered shutdown, even while
    // a queued call or a window scene still holds the program or a mixer:
    // their threads and connections must not outlive the source table.
    if (pvwMixer)
        pvwMixer->destroy();
    if (pgmMixer)
        pgmMixer->destroy();
}

QSharedPointer<WindowObject> ProjectObject::getWindow(const QString& win_id) const
{
    return windows.value(win_id);
}

QSharedPointer<Preset> ProjectObject::getPreset(const QString& layout_id) const
{
    return presets.value(layout_id);
}

QString ProjectObject::getWinLayoutId(const QString& win_id) const
{
    const QSharedPointer<WindowObject> window = windows.value(win_id);
    if (!window)
        return QString();
    const QString layout_id = window->getLayoutId();
    return presets.value(layout_id) ? layout_id : QString();
}

QString ProjectObject::getFirstWinId() const
{
    return windows.isEmpty() ? QString() : windows.firstKey();
}

// ---- Replies -------------------------------------------------------------

QJsonObject ProjectObject::getWindowList() const
{
    QStringList ids = windows.keys();
    std::sort(ids.begin(), ids.end(), compareData);
    QJsonArray list;
    for (const QString& id : qAsConst(ids)) {
        const QSharedPointer<WindowObject> window = windows.value(id);
        if (!window)
            return apireply::error();
        if (BusId::isBus(id))
            continue;
        double w = 0, h = 0;
        window->getSize(w, h);
        int i = 0;
        double a = 0;
        window->getAspect(i, a);
        int min = 0, max = 0;
        window->getNumRange(min, max);
        list.append(QJsonObject {
            { "id", id },
            { "name", window->getWinName() },
            { "layout_id", window->getLayoutId() },
            { "modified", window->getModified() },
            { "resolution", resolutionJson(w, h, i, a) },
            { "frameRate", window->getFrameRate() },
            { "number_used", window->getNumUsed() },
            { "number_range", QJsonObject { { "min", min }, { "max", max } } },
        });
    }
    return apireply::ok(list);
}

QJsonObject ProjectObject::getLayoutList() const
{
    QJsonArray list;
    for (const QSharedPointer<Preset>& preset : qAsConst(presets)) {
        if (!preset) {
            qDebug() << "ProjectObject getLayoutList failed, because preset is null.";
            return apireply::error();
        }
        list.append(preset->getLayoutJson());
    }
    return apireply::ok(list);
}

QJsonObject ProjectObject::getLayoutParams(const QString& win_id) const
{
    const QSharedPointer<WindowObject> window = windows.value(win_id);
    const QSharedPointer<WindowObject> pvw = windows.value(BusId::pvw());
    const QSharedPointer<WindowObject> pgm = windows.value(BusId::pgm());
    if (!window || !pvw || !pgm)
        return apireply::error();
    QJsonObject data;
    window->getLayoutParams(data, pvw->getSource(1), pgm->getSource(1), pro_id);
    double w = 0, h = 0;
    window->getSize(w, h);
    int i = 0;
    double a = 0;
    window->getAspect(i, a);
    data.insert("resolution", resolutionJson(w, h, i, a));
    return apireply::ok(data);
}

QJsonObject ProjectObject::getControlState(const QString& win_id) const
{
    const QSharedPointer<WindowObject> window = windows.value(win_id);
    if (!window)
        return apireply::error();
    return apireply::ok(window->getControlState());
}

QJsonObject ProjectObject::getOutputType(const QString& win_id) const
{
    const QSharedPointer<WindowObject> window = windows.value(win_id);
    if (!window)
        return apireply::error();
    QJsonObject reply;
    window->getOutputType(reply);
    return reply;
}

QJsonObject ProjectObject::getWinPosition(const QString& win_id) const
{
    const QSharedPointer<WindowObject> window = windows.value(win_id);
    if (!window) {
        qDebug() << "[getWinPosition] presets don't contains this id " << win_id << windows.keys();
        return apireply::error();
    }
    QJsonObject reply;
    window->getPosition(reply);
    return reply;
}

// ---- Window settings -------------------------------------------------------

bool ProjectObject::setOutputType(const QString& win_id, const QJsonObject& request)
{
    const QSharedPointer<WindowObject> window = windows.value(win_id);
    if (!window || !request.contains("select"))
        return false;
    window->setOutputType(request.value("select").toString());
    return true;
}

bool ProjectObject::clearSources(const QString& win_id)
{
    const QSharedPointer<WindowObject> window = windows.value(win_id);
    if (!window)
        return false;
    window->clearSources();
    return true;
}

bool ProjectObject::removeSource(const QString& win_id, int pos_id)
{
    const QSharedPointer<WindowObject> window = windows.value(win_id);
    if (!window)
        return false;
    window->removeSource(pos_id);
    return true;
}

bool ProjectObject::setControlState(const QString& win_id, const QJsonObject& request)
{
    const QSharedPointer<WindowObject> window = windows.value(win_id);
    if (!window || !request.contains("type") || !request.contains("config"))
        return false;
    const QString type = request.value("type").toString();
    const QJsonObject config = request.value("config").toObject();
    const auto has = [&config](std::initializer_list<const char*> keys) {
        return std::all_of(
            keys.begin(), keys.end(), [&config](const char* key) { return config.contains(QLatin1String(key)); });
    };
    if (type == "font") {
        if (!has({ "color", "size" }))
            return false;
        window->setControlState(config.value("color").toString(), config.value("size").toInt());
    } else if (type == "audio_gain") {
        if (!has({ "value" }))
            return false;
        window->setControlState(config.value("value").toInt());
    } else if (type == "border") {
        if (!has({ "color", "enable" }))
            return false;
        window->setControlState(type, config.value("enable").toBool(), config.value("color").toString());
    } else if (type == "name_enable" || type == "safe_area" || type == "center_cross" || type == "vu_meter") {
        if (!has({ "enable" }))
            return false;
        window->setControlState(type, config.value("enable").toBool());
    }
    return true;
}

bool ProjectObject::setWinPosition(const QString& win_id, const QJsonObject& request)
{
    const QSharedPointer<WindowObject> window = windows.value(win_id);
    if (!window || !request.contains("select"))
        return false;
    window->setPosition(request.value("select").toInt(), request.value("isFull").toBool(false));
    return true;
}

// ---- Program settings ------------------------------------------------------

void ProjectObject::applyStatus(const QSharedPointer<WindowObject>& window) const
{
    if (status)
        window->start();
    else
        window->stop();
}

void ProjectObject::setStatus(bool newStatus)
{
    status = newStatus;
    for (const QSharedPointer<WindowObject>& window : qAsConst(windows)) {
        if (!window)
            continue;
        qDebug() << "==============2 " << (status ? "true" : "false");
        applyStatus(window);
    }
}

bool ProjectObject::setTakeParams(const QJsonObject& request, QString& /*msg*/)
{
    if (request.contains("time")) {
        const int time = request.value("time").toInt();
        if (time >= 0)
            take_time = time;
    }
    if (request.contains("select")) {
        const int select = request.value("select").toInt();
        if (select >= 1)
            take_select = select;
    }
    return true;
}

QJsonObject ProjectObject::getTakeParams() const
{
    return apireply::ok(QJsonObject { { "time", take_time }, { "select", take_select } });
}

// ---- Presets ---------------------------------------------------------------

bool ProjectObject::presetNameTaken(const QString& presetName) const
{
    return std::find(presetNames.cbegin(), presetNames.cend(), presetName) != presetNames.cend();
}

bool ProjectObject::addLayout(const QJsonObject& request, QString& msg, QString* made_id)
{
    if (!request.contains("name") || !request.contains("template_id")) {
        qDebug() << "ProjectObject addLayout failed, because there is no name or template_id.";
        return false;
    }
    // The id is used up even when the name is refused.
    const QString layout_id = QString::number(++lastPresetId);
    const QString presetName = request.value("name").toString();
    if (presetNameTaken(presetName)) {
        msg = "preset.nameError";
        qDebug() << "ProjectObject addLayout failed, because preset name is error.";
        return false;
    }
    presetNames.insert(layout_id, presetName);

    const QString template_id = request.value("template_id").toString();
    int count = 0;
    QJsonObject layout;
    if (layoutTemplate) {
        count = layoutTemplate->getLayoutCount(template_id);
        layout = layoutTemplate->getSelecctTemplate(template_id);
    }
    layout.remove("template_id");
    layout.remove("template_count");
    layout.insert("layout_id", layout_id);
    layout.insert("layout_count", count);
    layout.insert("name", presetName);

    QSharedPointer<Preset> preset(new Preset);
    presets.insert(layout_id, preset);
    if (made_id)
        *made_id = layout_id;
    return preset->setLayoutJson(pro_id, layout);
}

bool ProjectObject::removeLayout(const QString& layout_id, QString& msg)
{
    if (!presets.value(layout_id)) {
        qDebug() << "未找到要删除的这个预设";
        return false;
    }
    // In use means some window shows it now; the preset's own list of users
    // is not what decides.
    for (const QSharedPointer<WindowObject>& window : qAsConst(windows)) {
        if (window && window->getLayoutId() == layout_id) {
            qDebug() << "这个预设正在使用中";
            msg = "这个预设正在使用中";
            return false;
        }
    }
    presets[layout_id].reset();
    presets.remove(layout_id);
    presetNames.remove(layout_id);
    return true;
}

bool ProjectObject::setLayoutName(const QString& layout_id, const QJsonObject& request, QString& msg)
{
    if (!presets.contains(layout_id) || !request.contains("name"))
        return false;
    const QString newName = request.value("name").toString();
    const auto known = presetNames.constFind(layout_id);
    if (known != presetNames.constEnd() && known.value() != newName && presetNameTaken(newName)) {
        msg = "preset.nameError";
        return false;
    }
    presetNames.insert(layout_id, newName);
    if (const QSharedPointer<Preset> preset = presets.value(layout_id))
        preset->setLayoutName(newName);
    return true;
}

bool ProjectObject::setLayout(QString win_id, QString layout_id)
{
    qDebug() << "setLayout" << win_id << layout_id;
    const QSharedPointer<WindowObject> window = windows.value(win_id);
    if (!window) {
        qDebug() << QString("ProjectObject setLayout failed, because win_id[%1] is invalid.").arg(win_id);
        return false;
    }
    const QString old = window->getLayoutId();
    const QSharedPointer<Preset> preset = presets.value(layout_id);
    if (!preset) {
        qDebug() << QString("ProjectObject setLayout failed, because layout_id[%1] is invalid.").arg(layout_id);
        return false;
    }

    if (const QSharedPointer<Preset> previous = presets.value(old))
        previous->setUsedState(win_id, false);
    preset->setUsedState(win_id, true);
    qDebug() << "setLayout update usedState successful. " << win_id << layout_id;

    // Rendering pauses while the window takes the layout over. A window of a
    // stopped program stays stopped.
    applyStatus(window);
    window->enableRender(false);
    qDebug() << "setLayout enableRender(false) successful. " << win_id << layout_id;
    window->load(preset, "win_load");
    qDebug() << "setLayout load() successful. " << win_id << layout_id;
    window->changeAll(pro_id, false);
    qDebug() << "setLayout changeAll() successful. " << win_id << layout_id;
    window->enableRender(true);
    qDebug() << QString("ProjectObject setLayout success, id:[%1] layout_id[%2].").arg(win_id, layout_id);
    return true;
}

QSharedPointer<WindowObject> ProjectObject::requestWindow(const QJsonObject& request, const char* missing) const
{
    if (!request.contains("win_id"))
        return nullptr;
    const QSharedPointer<WindowObject> window = windows.value(request.value("win_id").toString());
    if (!window)
        qDebug() << missing;
    return window;
}

bool ProjectObject::modifyLayout(const QJsonObject& request, QString& /*msg*/)
{
    const QSharedPointer<WindowObject> window = requestWindow(request, "未找到要修改的这个窗口");
    if (!window)
        return false;
    QJsonObject layout = request;
    layout.remove("pro_id");
    layout.remove("win_id");
    const bool applied = window->setLayoutJson(pro_id, layout);
    window->changeAll(pro_id, true);
    return applied;
}

bool ProjectObject::saveLayout(const QJsonObject& request, QString& /*msg*/)
{
    const QSharedPointer<WindowObject> window = requestWindow(request, "未找到要保存的这个预设");
    if (!window)
        return false;
    const QSharedPointer<Preset> preset = presets.value(window->getLayoutId());
    if (!preset)
        return false;
    window->setModified(false);
    preset->load(window, "none");
    return true;
}

bool ProjectObject::resaveLayout(const QString& win_id, const QJsonObject& request, QString& msg, QString* made_id)
{
    if (!request.contains("name"))
        return false;
    const QString presetName = request.value("name").toString();
    if (presetNameTaken(presetName)) {
        msg = "preset.nameError";
        qDebug() << "ProjectObject resaveLayout failed, because preset name is error.";
        return false;
    }
    QSharedPointer<Preset> source;
    const QString copied = request.value("layout_id").toString();
    if (!copied.isEmpty())
        source = presets.value(copied);
    if (!source)
        source = windows.value(win_id);
    if (!source)
        return false;

    const QString new_id = QString::number(++lastPresetId);
    presetNames.insert(new_id, presetName);
    QSharedPointer<Preset> preset(new Preset);
    presets.insert(new_id, preset);
    preset->load(source, "none");
    preset->setLayoutName(presetName);
    preset->setLayoutId(new_id);
    if (made_id)
        *made_id = new_id;
    return true;
}

// ---- Adding, changing and closing windows ---------------------------------

namespace {

struct WindowRequest {
    QString win_id;
    QString name;
    double frameRate = 0;
    int width = 0;
    int height = 0;
    int index = 0;
    double aspect = 0;
    bool number_used = false;
    int min = 0;
    int max = 0;
};

bool readWindowRequest(const QJsonObject& request, WindowRequest& out)
{
    if (!request.contains("win_id") || !request.contains("name") || !request.contains("resolution")
        || !request.contains("frameRate"))
        return false;
    const QJsonObject resolution = request.value("resolution").toObject();
    if (!resolution.contains("width") || !resolution.contains("height") || !resolution.contains("index")
        || !resolution.contains("aspect"))
        return false;
    out.win_id = request.value("win_id").toString();
    out.name = request.value("name").toString();
    out.frameRate = request.value("frameRate").toVariant().toDouble();
    out.width = resolution.value("width").toInt();
    out.height = resolution.value("height").toInt();
    out.index = resolution.value("index").toInt();
    out.aspect = resolution.value("aspect").toDouble();
    out.number_used = request.value("number_used").toBool(false);
    const QJsonObject range = request.value("number_range").toObject();
    out.min = range.value("min").toInt();
    out.max = range.value("max").toInt();
    return true;
}

bool sameRange(const Preset& preset, int min, int max)
{
    int omin = 0, omax = 0;
    preset.getNumRange(omin, omax);
    return omin == min && omax == max;
}

} // namespace

bool ProjectObject::checkIsDuplicateRange(const QString& win_id, int min, int max) const
{
    if (min > max || min < 1 || max < 1)
        return false;
    // Any shared number counts, also a range that encloses the other one. A
    // held (0, 0), a change without numbers, meets nothing: min is at least 1.
    const auto meets = [min, max](int omin, int omax) { return omin <= omax && min <= omax && omin <= max; };
    for (auto it = windows.cbegin(); it != windows.cend(); ++it) {
        if (it.key() == win_id || !it.value() || !it.value()->getNumUsed())
            continue;
        int omin = 0, omax = 0;
        it.value()->getNumRange(omin, omax);
        if (meets(omin, omax))
            return false;
    }
    for (auto it = heldRanges.cbegin(); it != heldRanges.cend(); ++it) {
        if (it.key() == win_id)
            continue;
        for (const QPair<int, int>& range : it.value()) {
            if (meets(range.first, range.second))
                return false;
        }
    }
    return true;
}

bool ProjectObject::rangeAccepted(const QString& win_id, int min, int max, bool keepsStored) const
{
    if (min > max || min < 1 || max < 1)
        return false;
    return keepsStored || checkIsDuplicateRange(win_id, min, max);
}

bool ProjectObject::windowNameTaken(const QString& win_id, const QString& win_name) const
{
    if (!win_id.isEmpty()) {
        const auto known = windowNames.constFind(win_id);
        if (known == windowNames.constEnd() || known.value() == win_name)
            return false;
    }
    return std::find(windowNames.cbegin(), windowNames.cend(), win_name) != windowNames.cend();
}

bool ProjectObject::checkAddWinValid(const QJsonObject& request, QString& msg) const
{
    WindowRequest r;
    if (!readWindowRequest(request, r))
        return false;
    const QSharedPointer<WindowObject> window
        = r.win_id.isEmpty() ? QSharedPointer<WindowObject>() : windows.value(r.win_id);
    const bool keepsStored = window && window->getNumUsed() && sameRange(*window, r.min, r.max);
    if (r.number_used && !rangeAccepted(r.win_id, r.min, r.max, keepsStored)) {
        msg = "Range.isDuplicate";
        return false;
    }
    if (r.win_id.isEmpty()) {
        if (windowNameTaken(QString(), r.name)) {
            msg = "window.nameError";
            return false;
        }
        return !windows.contains(QString());
    }
    if (window && windowNameTaken(r.win_id, r.name)) {
        msg = "window.nameError";
        return false;
    }
    return true;
}

bool ProjectObject::setWindow(const QJsonObject& request, QString msg)
{
    const QString requested = request.value("win_id").toString();
    const bool isNew = requested.isEmpty();
    QString win_id = requested;
    if (isNew) {
        QMutexLocker lock(modelLock);
        win_id = QString::number(++lastWinId);
    }
    return applyWindow(request, win_id, isNew, msg);
}

QString ProjectObject::reserveWindow(const QJsonObject& request)
{
    QMutexLocker lock(modelLock);
    const QString win_id = QString::number(++lastWinId);
    windowNames.insert(win_id, request.value("name").toString());
    holdWindowRange(win_id, request);
    return win_id;
}

void ProjectObject::holdWindowRange(const QString& win_id, const QJsonObject& request)
{
    QMutexLocker lock(modelLock);
    WindowRequest r;
    const bool numbered = readWindowRequest(request, r) && r.number_used;
    heldRanges[win_id].append(numbered ? qMakePair(r.min, r.max) : qMakePair(0, 0));
}

bool ProjectObject::addReservedWindow(const QString& win_id, const QJsonObject& request)
{
    QString msg;
    if (applyWindow(request, win_id, true, msg))
        return true;
    QMutexLocker lock(modelLock);
    if (!windows.contains(win_id))
        windowNames.remove(win_id);
    return false;
}

void ProjectObject::releaseWindowRange(const QString& win_id)
{
    const auto held = heldRanges.find(win_id);
    if (held != heldRanges.end()) {
        held->removeFirst();
        if (held->isEmpty())
            heldRanges.erase(held);
    }
}

bool ProjectObject::applyWindow(const QJsonObject& request, const QString& win_id, bool isNew, QString& msg)
{
    QMutexLocker lock(modelLock);
    // The change held these numbers since it was accepted; it gives them up
    // once it has taken them itself, or failed.
    WindowRequest r;
    if (!readWindowRequest(request, r)) {
        releaseWindowRange(win_id);
        return false;
    }
    QSharedPointer<WindowObject> window = isNew ? QSharedPointer<WindowObject>() : windows.value(win_id);
    if (!isNew && !window) {
        releaseWindowRange(win_id);
        return false; // names no window of this program: nothing to change
    }

    const bool keepsStored = window && window->getNumUsed() && sameRange(*window, r.min, r.max);
    if (r.number_used && !rangeAccepted(win_id, r.min, r.max, keepsStored)) {
        releaseWindowRange(win_id);
        msg = "Range.isDuplicate";
        return false;
    }

    // A reserved window holds its name already: the check passes it by.
    if (windowNameTaken(isNew && !windowNames.contains(win_id) ? QString() : win_id, r.name)) {
        releaseWindowRange(win_id);
        msg = "window.nameError";
        return false;
    }
    if (isNew && windows.contains(win_id)) {
        releaseWindowRange(win_id);
        return false;
    }
    windowNames.insert(win_id, r.name);
    if (isNew) {
        // The window, its renderer and its encoder are built without the
        // lock (seconds, while every request wants it); name and numbers
        // stay held for it meanwhile, and it enters the map finished.
        if (!heldRanges.contains(win_id))
            holdWindowRange(win_id, request);
        const QString builtFor = name;
        window = QSharedPointer<WindowObject>(new WindowObject);
        window->setWinParams(pro_id, builtFor, win_id, r.name, r.width, r.height, r.frameRate);
        window->setAspect(r.index, r.aspect);
        window->setNdi_web_url(webUrl);
        window->setAudioMixerObject(pgmMixer, pvwMixer);
        lock.unlock();
        window->createWindow();
        emit windowBuilt(win_id);
        lock.relock();
        windows.insert(win_id, window);
        // Renamed while it was built.
        if (name != builtFor)
            window->changeProName(name);
    } else {
        window->setWinParams(pro_id, name, win_id, r.name, r.width, r.height, r.frameRate);
        window->setAspect(r.index, r.aspect);
    }
    releaseWindowRange(win_id);
    // A window renders and outputs only while its program runs.
    applyStatus(window);

    const bool usedChanged = window->setNumUsed(r.number_used);
    if (window->setNumRange(r.min, r.max, usedChanged))
        queueTallyPush();
    return true;
}

bool ProjectObject::checkRemoveWinValid(const QJsonObject& request, QString& /*msg*/) const
{
    if (!request.contains("win_id") || !request.contains("session_id"))
        return false;
    const QString win_id = request.value("win_id").toString();
    // The bus windows are made with the program and never again: without
    // them take, bus assignment and tally would fail for good.
    if (BusId::isBus(win_id)) {
        qDebug() << "ProjectObject checkRemoveWinValid refused, the bus window stays:" << win_id;
        return false;
    }
    return !win_id.isEmpty() && windows.value(win_id);
}

bool ProjectObject::onProcessClose(const QJsonObject& request)
{
    QMutexLocker lock(modelLock);
    QString unused;
    if (!checkRemoveWinValid(request, unused))
        return false;
    const QString win_id = request.value("win_id").toString();
    const QString session_id = request.value("session_id").toString();
    QSharedPointer<WindowObject> window = windows.value(win_id);

    window->setPosition(0, false);
    if (const QSharedPointer<Preset> preset = presets.value(window->getLayoutId()))
        preset->setUsedState(win_id, false);
    // The first window that stays, so nothing points at the one closing.
    currentWinId.clear();
    for (auto it = windows.cbegin(); it != windows.cend(); ++it) {
        if (it.key() != win_id) {
            currentWinId = it.key();
            break;
        }
    }
    WebrtcManager::instance()->switchWindow(pro_id, currentWinId, session_id);

    window->destroy();
    window.reset();
    windows.remove(win_id);
    windowNames.remove(win_id);
    return true;
}

bool ProjectObject::switchWindow(const QString& win_id)
{
    if (!windows.value(win_id))
        return false;
    currentWinId = win_id;
    return true;
}

// ---- Pushes and saves queued for later --------------------------------------

void ProjectObject::queueTallyPush() const
{
    QMetaObject::invokeMethod(
        WebSocketServer::instance(), "sendTallyRequest", Qt::QueuedConnection, Q_ARG(QString, pro_id));
}

// ---- Sources on positions --------------------------------------------------

bool ProjectObject::takeUnderway() const
{
    const std::shared_ptr<FrameQueue> program = ProgramFrame::instance()->getFrame(pro_id);
    const std::shared_ptr<FrameQueue> preview = PreviewFrame::instance()->getFrame(pro_id);
    return program && preview && program->getTakeState() && preview->getTakeState();
}

bool ProjectObject::assignBus(const QString& bus, const QString& from_win_id, int from_pos_id, const QString& source)
{
    const QSharedPointer<WindowObject> window = windows.value(bus);
    const std::shared_ptr<AudioOutputMixer>& mixer = bus == BusId::pvw() ? pvwMixer : pgmMixer;
    if (takeUnderway()) {
        qDebug() << QString("setsource to %1 and take is underway.").arg(bus);
        return false;
    }
    const QString current = window->getSource(1);
    if (!source.isEmpty() && source == current) {
        qDebug() << QString("setsource source is not empty and same as the %1 former.").arg(bus);
        return true;
    }
    QString stored_id;
    int stored_pos = 0;
    window->getFromPosition(stored_id, stored_pos);
    if (source.isEmpty() && current.isEmpty() && from_win_id == stored_id && from_pos_id == stored_pos) {
        qDebug() << QString("setsource source is emtpy and %1_id and %1_pos is not changed.").arg(bus);
        return true;
    }
    const bool fromChanged = window->setFromPosition(from_win_id, from_pos_id);
    if (mixer)
        mixer->setVideoSource(source, from_win_id, from_pos_id);
    // The bus shows its picture on position 1, whichever position was the target.
    window->setsource(source, pro_id, 1);
    queueTallyPush();
    if (fromChanged)
        saveLater(StateFile::Window, from_win_id);
    return true;
}

bool ProjectObject::setVideoRectSource(QString from_win_id, int from_pos_id, const QString& number, int offset,
    const QString& to_win_id, int to_pos_id, const QString& source)
{
    QString msg;
    return setVideoRectSource(from_win_id, from_pos_id, number, offset, to_win_id, to_pos_id, source, msg);
}

bool ProjectObject::setVideoRectSource(QString from_win_id, int from_pos_id, const QString& number, int offset,
    const QString& to_win_id, int to_pos_id, QString source, QString& msg)
{
    bool isNumber = false;
    const int asked = number.toInt(&isNumber, 10);
    if (!number.isEmpty() && offset >= 0 && isNumber && asked >= 1) {
        const int n = asked + offset;
        for (auto it = windows.cbegin(); it != windows.cend(); ++it) {
            if (it.value() && it.value()->getSourceByNumber(n, from_pos_id, source)) {
                from_win_id = it.key();
                break;
            }
        }
        if (from_win_id.isEmpty() || from_pos_id <= 0) {
            qDebug() << "setsource from_win_id or from_win_pos is invalid :" << from_win_id << from_pos_id;
            return false;
        }
        qDebug() << "[setVideoRectSource] from tessmark the win_id is " << from_win_id << " pos_id is :" << from_pos_id
                 << " number is :" << n << " source is " << source;
    }

    const QSharedPointer<WindowObject> target = windows.value(to_win_id);
    const QSharedPointer<WindowObject> pvw = windows.value(BusId::pvw());
    const QSharedPointer<WindowObject> pgm = windows.value(BusId::pgm());
    if (!target || !pvw || !pgm) {
        qDebug() << "setsource to_id or pvw or pgm window object is invalid ." << to_win_id;
        return false;
    }
    const QSharedPointer<WindowObject> from = windows.value(from_win_id);

    // Preview dropped on program is a cut. The configured take time stays:
    // the cut is immediate only this once.
    if (from && from->isPvw(from_pos_id) && target->isPgm(to_pos_id)) {
        const bool taken = runTake(0, 1.0f, msg);
        queueTallyPush();
        if (taken)
            onGridChanged(GRID_BUS_WINDOWS, QString());
        return taken;
    }
    if (to_win_id == BusId::pvw() || target->isPvw(to_pos_id))
        return assignBus(BusId::pvw(), from_win_id, from_pos_id, source);
    if (to_win_id == BusId::pgm() || target->isPgm(to_pos_id))
        return assignBus(BusId::pgm(), from_win_id, from_pos_id, source);

    if (from && (from->isPgm(from_pos_id) || from->isPvw(from_pos_id))) {
        qDebug() << "不允许从pvw或pgm向其他普通窗口交换视频源。";
        return false;
    }
    if (target->getSource(to_pos_id) == source)
        return true;
    target->setsource(source, pro_id, to_pos_id);
    queueTallyPush();
    return true;
}

QJsonObject ProjectObject::getVideoRectSource(const QString& win_id, int pos_id) const
{
    const QSharedPointer<WindowObject> window = windows.value(win_id);
    if (!window)
        return apireply::error();
    return QJsonObject { { "stream_id", window->getSource(pos_id) } };
}

// ---- Take ------------------------------------------------------------------

bool ProjectObject::doTake(const QJsonObject& request, QString& msg)
{
    if (!windows.value(BusId::pvw()) || !windows.value(BusId::pgm()))
        return false;
    // Stored before any refusal below, and kept when the take is refused.
    QString unused;
    setTakeParams(request, unused);
    const float progress = request.contains("progress") ? request.value("progress").toVariant().toFloat() : 1.0f;
    return runTake(take_time, progress, msg);
}

bool ProjectObject::runTake(int time, float progress, QString& msg)
{
    const QSharedPointer<WindowObject> pvw = windows.value(BusId::pvw());
    const QSharedPointer<WindowObject> pgm = windows.value(BusId::pgm());
    if (!pvw || !pgm)
        return false;
    const QString pvwSource = pvw->getSource(1);
    const QString pgmSource = pgm->getSource(1);
    if (pvwSource == pgmSource) {
        msg = "Take.sourceIsSame";
        qDebug() << "Take.sourceIsSame";
        return false;
    }
    const std::shared_ptr<FrameQueue> programQueue = ProgramFrame::instance()->getFrame(pro_id);
    const std::shared_ptr<FrameQueue> previewQueue = PreviewFrame::instance()->getFrame(pro_id);
    if (!programQueue || !previewQueue) {
        qDebug() << "dotake pvw or pgm frame ptr is null";
        return false;
    }
    const bool taking = programQueue->getTakeState() && previewQueue->getTakeState();
    qDebug() << "[doTake] time :" << time << "select :" << take_select << "progress :" << progress
             << "isTaking :" << (taking ? "true" : "false");
    // A cut (time 0) takes over a running transition; a timed one waits for it.
    if (time > 0 && taking) {
        msg = "Take.isUsing";
        qDebug() << "Take.isUsing";
        return false;
    }

    // Program queue first, always, as the bus tiles read them.
    programQueue->setTakeState(true);
    previewQueue->setTakeState(true);
    programQueue->setIsTaking(true);
    previewQueue->setIsTaking(true);
    pgm->take(1, time, take_select, progress, pvwSource);
    pvw->take(1, time, take_select, progress, pgmSource);

    if (progress >= 1.0f) {
        QString pvwFromId, pgmFromId;
        int pvwFromPos = 0, pgmFromPos = 0;
        pvw->getFromPosition(pvwFromId, pvwFromPos);
        pgm->getFromPosition(pgmFromId, pgmFromPos);
        // No signal: the bus tiles are already blending to the new sources.
        pvw->setStreamId(pgmSource, 1);
        pgm->setStreamId(pvwSource, 1);
        pvw->setFromPosition(pgmFromId, pgmFromPos);
        pgm->setFromPosition(pvwFromId, pvwFromPos);
        if (pvwMixer)
            pvwMixer->setVideoSource(pgmSource, pgmFromId, pgmFromPos);
        if (pgmMixer)
            pgmMixer->setVideoSource(pvwSource, pvwFromId, pvwFromPos);
        qDebug() << "dotake progress is 1.0  pvw is " << pvwSource << "pgm is " << pgmSource;
        queueTallyPush();
        onGridChanged(GRID_BUS_WINDOWS, QString());
        return true;
    }
    if (time < 1) {
        // A fader move: the tiles follow the progress; nothing is exchanged yet.
        programQueue->setTakeState(false);
        previewQueue->setTakeState(false);
    }
    return true;
}

// ---- Tally -----------------------------------------------------------------

QJsonObject ProjectObject::getTallyState() const
{
    const QSharedPointer<WindowObject> pvw = windows.value(BusId::pvw());
    const QSharedPointer<WindowObject> pgm = windows.value(BusId::pgm());
    if (!pvw || !pgm)
        return apireply::ok(QJsonObject { { "pvw_numbers", "" }, { "pgm_numbers", "" } });

    const QString pvwSource = pvw->getSource(1);
    const QString pgmSource = pgm->getSource(1);
    QString pvwId, pgmId;
    int pvwPos = 0, pgmPos = 0;
    pvw->getFromPosition(pvwId, pvwPos);
    pgm->getFromPosition(pgmId, pgmPos);

    QString pvwList, pgmList;
    for (auto it = windows.cbegin(); it != windows.cend(); ++it) {
        if (BusId::isBus(it.key()) || !it.value())
            continue;
        // A bus without a source counts the position it was filled from.
        const int pvwFrom = pvwSource.isEmpty() && pvwId == it.key() ? pvwPos : 0;
        const int pgmFrom = pgmSource.isEmpty() && pgmId == it.key() ? pgmPos : 0;
        qDebug() << "[getTallyState] pro_id :" << pro_id << " win_id :" << it.key() << "pvw_id :" << pvwId
                 << "pgm_id :" << pgmId << "pvw_pos :" << pvwFrom << "pgm_pos :" << pgmFrom;
        it.value()->getTallyState(pvwSource, pgmSource, pvwFrom, pgmFrom, pvwList, pgmList);
    }
    qDebug() << "getTallyState pvwlist :" << pvwList << "pgmlist :" << pgmList;

    const auto toArray
        = [](const QString& list) { return QJsonArray::fromStringList(list.split(',', Qt::SkipEmptyParts)); };
    return apireply::ok(
        QJsonObject { { "pro_id", pro_id }, { "pvw_numbers", toArray(pvwList) }, { "pgm_numbers", toArray(pgmList) } });
}

// ---- PTZ -------------------------------------------------------------------

bool ProjectObject::setPtzControl(const QJsonObject& request, QString& /*msg*/)
{
    QString win_id = request.value("win_id").toString();
    const QString type = request.value("type").toString();
    int pos_id = request.value("pos_id").toInt(-1);
    const int number_id = request.contains("pos_id") ? -1 : request.value("number_id").toInt(-1);
    const QJsonObject data = request.value("data").toObject();
    if (type.isEmpty()) {
        qDebug() << "类型为空或窗口id为空或未找到要设置的窗口";
        return false;
    }
    qDebug() << "[setPtzControl] win_id :" << win_id << "pos_id :" << pos_id << "number_id :" << number_id;

    QString source;
    const QSharedPointer<WindowObject> window = windows.value(win_id);
    if (pos_id >= 1 && window) {
        // A bus position steers the camera whose picture the bus shows.
        const QSharedPointer<WindowObject> pvw = windows.value(BusId::pvw());
        const QSharedPointer<WindowObject> pgm = windows.value(BusId::pgm());
        if (window->isPvw(pos_id) && pvw)
            source = pvw->getSource(1);
        else if (window->isPgm(pos_id) && pgm)
            source = pgm->getSource(1);
        else
            source = window->getSource(pos_id);
    } else {
        for (auto it = windows.cbegin(); it != windows.cend(); ++it) {
            if (it.value() && it.value()->getSourceByNumber(number_id, pos_id, source)) {
                win_id = it.key();
                break;
            }
        }
    }
    if (win_id.isEmpty() || source.isEmpty()) {
        qDebug() << "窗口id为空或未找到要设置的窗口";
        return false;
    }
    qDebug() << "[setPtzControl] win_id :" << win_id << "pos_id :" << pos_id << "source :" << source;

    const std::shared_ptr<PtzControl> camera = PtzControl::connectionOf(source);
    if (!camera) {
        qDebug() << QString("error: %1 set failed.").arg(type);
        return false;
    }
    return camera->apply(type, data);
}

// ---- Numbering range and position show options ----------------------------

QJsonObject ProjectObject::getWindowParam(const QString& /*win_id*/) const
{
    // Windows carry no parameters of their own here; the answer is the same
    // one-member object for every id.
    return QJsonObject { { "", QJsonValue() } };
}

QJsonObject ProjectObject::getWindowRange(const QString& win_id) const
{
    const QSharedPointer<WindowObject> window = windows.value(win_id);
    if (!window)
        return apireply::error();
    int min = 0, max = 0;
    window->getNumRange(min, max);
    return apireply::ok(QJsonObject { { "min", min }, { "max", max } });
}

bool ProjectObject::setWindowRange(const QString& win_id, const QJsonObject& request, QString& msg)
{
    const QSharedPointer<WindowObject> window = windows.value(win_id);
    if (!window) {
        qDebug() << "要设置编号范围的窗口不存在";
        return false;
    }
    const QJsonValue rangeValue = request.value("number_range");
    const QJsonObject range = rangeValue.toObject();
    if (!rangeValue.isObject() || !range.contains("min") || !range.contains("max"))
        return false;
    const int min = range.value("min").toInt();
    const int max = range.value("max").toInt();
    if (!rangeAccepted(win_id, min, max, sameRange(*window, min, max))) {
        msg = "Range.isDuplicate";
        qDebug() << "[setWindowRange] range is duplicate in this project.";
        return false;
    }
    if (window->setNumRange(min, max, false))
        queueTallyPush();
    return true;
}

QJsonObject ProjectObject::getVideoRectShowOptions(const QString& win_id, int pos_id) const
{
    const QSharedPointer<WindowObject> window = windows.value(win_id);
    if (!window)
        return apireply::error();
    QJsonObject reply;
    window->getVideoRectOptions(pro_id, pos_id, reply);
    return reply;
}

bool ProjectObject::setVideoRectShowOptions(const QString& win_id, const QJsonObject& request)
{
    const QSharedPointer<WindowObject> window = windows.value(win_id);
    if (!window || !request.contains("pos_id") || !request.contains("type") || !request.contains("config"))
        return false;
    const QJsonValue posValue = request.value("pos_id");
    const int pos_id = posValue.isString() ? posValue.toString().toInt(nullptr, 10) : posValue.toInt();
    const QString type = request.value("type").toString();
    const QJsonObject config = request.value("config").toObject();

    if (type == "name") {
        if (!config.contains("pattern_name"))
            return false;
        const std::shared_ptr<AudioOutputMixer>& mixer = pvwMixer ? pvwMixer : pgmMixer;
        if (mixer)
            mixer->setPatternName(window->getSource(pos_id), config.value("pattern_name").toString());
    } else if (type == "name_enable" || type == "safe_area" || type == "center_cross" || type == "vu_meter"
        || type == "audio_enable") {
        if (!config.contains("enable"))
            return false;
        window->setVideoRectOptions(pos_id, type, config.value("enable").toBool());
    } else if (type == "angle") {
        if (!config.contains("value"))
            return false;
        window->setAngle(pos_id, config.value("value").toInt());
    }
    return true;
}

bool ProjectObject::setVideoRectAudioType(const QString& win_id, const QJsonObject& request)
{
    const QSharedPointer<WindowObject> window = windows.value(win_id);
    if (!window || !request.contains("pos_id") || !request.contains("mix_type"))
        return false;
    const QString source = window->getSource(request.value("pos_id").toInt());
    if (source.isEmpty())
        return false;
    const QString mixType = request.value("mix_type").toString();
    GlobalData* registry = GlobalData::instance();
    if (mixType != registry->getAudioMixType(pro_id, source)) {
        registry->setAudioMixType(pro_id, source, mixType);
        if (pvwMixer)
            pvwMixer->addInputSource(source);
        if (pgmMixer)
            pgmMixer->addInputSource(source);
    }
    return true;
}
