#include "ProjectObject.h"

#include "AudioOutputMixer.h"
#include "JsonFile.h"
#include "LayoutTemplate.h"
#include "Preset.h"
#include "WebSocketServer.h"
#include "WebrtcManager.h"
#include "WindowObject.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QRecursiveMutex>
#include <QRegularExpression>
#include <QThread>

#include <algorithm>
#include <functional>

namespace {

const QString kPvw = QStringLiteral("pvw");
const QString kPgm = QStringLiteral("pgm");

bool isBusId(const QString& id)
{
    return id == kPvw || id == kPgm;
}

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

QJsonObject errorReply()
{
    return QJsonObject { { "result", "error" } };
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
    if (QSharedPointer<WindowObject> pvw = windows.value(kPvw))
        pvw->setWinParams(pro_id, name, kPvw, "PVW", width, height, frameRate);
    if (QSharedPointer<WindowObject> pgm = windows.value(kPgm))
        pgm->setWinParams(pro_id, name, kPgm, "PGM", width, height, frameRate);
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

    if (QSharedPointer<WindowObject> pvw = windows.value(kPvw))
        pvw->setWinParams(pro_id, name, kPvw, "PVW", width, height, frameRate);
    if (QSharedPointer<WindowObject> pgm = windows.value(kPgm))
        pgm->setWinParams(pro_id, name, kPgm, "PGM", width, height, frameRate);
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
        if (!isBusId(win_id))
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

bool ProjectObject::saveWindow(const QString& win_id)
{
    QMutexLocker lock(modelLock);
    const QSharedPointer<WindowObject> window = windows.value(win_id);
    if (!window) {
        qDebug() << QString("ProjectObject saveWindow failed, because win_id[%1] is invalid.").arg(win_id);
        return false;
    }
    QJsonObject object;
    window->write(object);
    object.insert("angles", window->writeAngles());
    return saveFile("saveWindow", "win", "/windows", "win", "/window_" + win_id + ".json", object);
}

bool ProjectObject::savePreset(const QString& layout_id)
{
    QMutexLocker lock(modelLock);
    const QSharedPointer<Preset> preset = presets.value(layout_id);
    if (!preset) {
        qDebug() << QString("ProjectObject savePreset failed, because layout_id[%1] is invalid.").arg(layout_id);
        return false;
    }
    return saveFile(
        "savePreset", "presets", "/presets", "preset", "/preset_" + layout_id + ".json", preset->writePresetFile());
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

void ProjectObject::onWindowChanged(WINDOWTYPE type, const QString& win_id)
{
    QMutexLocker lock(modelLock);
    if (type == WINDOW_ADD)
        saveWindow(QString::number(lastWinId));
    else if (type == WINDOW_REMOVE) {
        if ((isStoredId(win_id) || isBusId(win_id)) && !windows.contains(win_id))
            removeFile(path + "/windows/window_" + win_id + ".json");
    } else
        saveWindow(win_id);
}

void ProjectObject::onPresetChanged(PRESETTYPE type, const QString& layout_id)
{
    QMutexLocker lock(modelLock);
    if (type == PRESET_ADD)
        savePreset(QString::number(lastPresetId));
    else if (type == PRESET_REMOVE) {
        if (isStoredId(layout_id) && !presets.contains(layout_id))
            removeFile(path + "/presets/preset_" + layout_id + ".json");
    } else
        savePreset(layout_id);
}

void ProjectObject::onGridChanged(GRIDTYPE type, const QString& win_id)
{
    QMutexLocker lock(modelLock);
    switch (type) {
    case GRID_BUS_WINDOWS:
        saveWindow(kPvw);
        saveWindow(kPgm);
        break;
    case GRID_RESAVE_LAYOUT:
        savePreset(QString::number(lastPresetId));
        saveWindow(win_id);
        break;
    case GRID_SAVE_LAYOUT: {
        const QSharedPointer<WindowObject> window = windows.value(win_id);
        savePreset(window ? window->getLayoutId() : QString());
        saveWindow(win_id);
        break;
    }
    default:
        saveWindow(win_id);
        break;
    }
}

// ---- Mixers and windows ----------------------------------------------------

void ProjectObject::createAudioMixers()
{
    if (!pvwMixer)
        pvwMixer = std::make_shared<AudioOutputMixer>(kPvw, 48000, 2, 16, 10);
    if (!pgmMixer)
        pgmMixer = std::make_shared<AudioOutputMixer>(kPgm, 48000, 2, 16, 10);
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
    const bool mainThread
        = QCoreApplication::instance() && QThread::currentThread() == QCoreApplication::instance()->thread();
    qDebug() << "ProjectObject createWindows" << mainThread;

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
            if (it.key() == kPvw && pvwMixer)
                pvwMixer->setVideoSource(window->getSource(1), fromWinId, fromPos);
            else if (it.key() == kPgm && pgmMixer)
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
    for (const auto& bus : { qMakePair(kPvw, QStringLiteral("PVW")), qMakePair(kPgm, QStringLiteral("PGM")) }) {
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
            return errorReply();
        if (isBusId(id))
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
    return QJsonObject { { "result", "ok" }, { "data", list } };
}

QJsonObject ProjectObject::getLayoutList() const
{
    QJsonArray list;
    for (const QSharedPointer<Preset>& preset : qAsConst(presets)) {
        if (!preset) {
            qDebug() << "ProjectObject getLayoutList failed, because preset is null.";
            return errorReply();
        }
        list.append(preset->getLayoutJson());
    }
    return QJsonObject { { "result", "ok" }, { "data", list } };
}

QJsonObject ProjectObject::getLayoutParams(const QString& win_id) const
{
    const QSharedPointer<WindowObject> window = windows.value(win_id);
    const QSharedPointer<WindowObject> pvw = windows.value(kPvw);
    const QSharedPointer<WindowObject> pgm = windows.value(kPgm);
    if (!window || !pvw || !pgm)
        return errorReply();
    QJsonObject data;
    window->getLayoutParams(data, pvw->getSource(1), pgm->getSource(1), pro_id);
    double w = 0, h = 0;
    window->getSize(w, h);
    int i = 0;
    double a = 0;
    window->getAspect(i, a);
    data.insert("resolution", resolutionJson(w, h, i, a));
    return QJsonObject { { "result", "ok" }, { "data", data } };
}

QJsonObject ProjectObject::getControlState(const QString& win_id) const
{
    const QSharedPointer<WindowObject> window = windows.value(win_id);
    if (!window)
        return errorReply();
    return QJsonObject { { "result", "ok" }, { "data", window->getControlState() } };
}

QJsonObject ProjectObject::getOutputType(const QString& win_id) const
{
    const QSharedPointer<WindowObject> window = windows.value(win_id);
    if (!window)
        return errorReply();
    QJsonObject reply;
    window->getOutputType(reply);
    return reply;
}

QJsonObject ProjectObject::getWinPosition(const QString& win_id) const
{
    const QSharedPointer<WindowObject> window = windows.value(win_id);
    if (!window) {
        qDebug() << "[getWinPosition] presets don't contains this id " << win_id << windows.keys();
        return errorReply();
    }
    QJsonObject reply;
    window->getPosition(reply);
    return reply;
}

// ---- Adding, changing and closing windows ---------------------------------

bool ProjectObject::checkIsDuplicateRange(const QString& win_id, int min, int max) const
{
    if (min > max || min < 1 || max < 1)
        return false;
    for (auto it = windows.cbegin(); it != windows.cend(); ++it) {
        if (it.key() == win_id || !it.value() || !it.value()->getNumUsed())
            continue;
        int omin = 0, omax = 0;
        it.value()->getNumRange(omin, omax);
        if ((omin <= min && min <= omax) || (omin <= max && max <= omax))
            return false;
    }
    return true;
}

bool ProjectObject::setWindow(const QJsonObject& request, QString msg)
{
    QMutexLocker lock(modelLock);
    if (!request.contains("win_id") || !request.contains("name") || !request.contains("resolution")
        || !request.contains("frameRate"))
        return false;
    QString win_id = request.value("win_id").toString();
    const QString win_name = request.value("name").toString();
    const double fps = request.value("frameRate").toVariant().toDouble();
    const QJsonObject resolution = request.value("resolution").toObject();
    if (!resolution.contains("width") || !resolution.contains("height") || !resolution.contains("index")
        || !resolution.contains("aspect"))
        return false;
    const int w = resolution.value("width").toInt();
    const int h = resolution.value("height").toInt();
    const int i = resolution.value("index").toInt();
    const double a = resolution.value("aspect").toDouble();
    const bool number_used = request.value("number_used").toBool(false);
    const QJsonObject range = request.value("number_range").toObject();
    const int min = range.value("min").toInt();
    const int max = range.value("max").toInt();

    const bool isNew = win_id.isEmpty();
    if (isNew)
        win_id = QString::number(++lastWinId);

    if (number_used && !checkIsDuplicateRange(win_id, min, max)) {
        msg = "Range.isDuplicate";
        return false;
    }

    QSharedPointer<WindowObject> window;
    if (isNew) {
        for (const QString& used : qAsConst(windowNames)) {
            if (used == win_name) {
                msg = "window.nameError";
                return false;
            }
        }
        windowNames.insert(win_id, win_name);
        if (windows.contains(win_id))
            return false;
        window = QSharedPointer<WindowObject>(new WindowObject);
        windows.insert(win_id, window);
        window->setWinParams(pro_id, name, win_id, win_name, w, h, fps);
        window->setAspect(i, a);
        window->setNdi_web_url(webUrl);
        window->setAudioMixerObject(pgmMixer, pvwMixer);
        window->createWindow();
        if (!status)
            window->stop();
    } else {
        window = windows.value(win_id);
        if (!window)
            return false;
        const auto known = windowNames.constFind(win_id);
        if (known != windowNames.constEnd() && known.value() != win_name) {
            for (const QString& used : qAsConst(windowNames)) {
                if (used == win_name) {
                    msg = "window.nameError";
                    return false;
                }
            }
        }
        windowNames.insert(win_id, win_name);
        window->setWinParams(pro_id, name, win_id, win_name, w, h, fps);
        window->setAspect(i, a);
        window->start();
    }

    const bool usedChanged = window->setNumUsed(number_used);
    if (window->setNumRange(min, max, usedChanged))
        QMetaObject::invokeMethod(
            WebSocketServer::instance(), "sendTallyRequest", Qt::QueuedConnection, Q_ARG(QString, pro_id));
    return true;
}

bool ProjectObject::onProcessClose(const QJsonObject& request)
{
    QMutexLocker lock(modelLock);
    if (!request.contains("win_id") || !request.contains("session_id"))
        return false;
    const QString win_id = request.value("win_id").toString();
    const QString session_id = request.value("session_id").toString();
    QSharedPointer<WindowObject> window = windows.value(win_id);
    if (win_id.isEmpty() || !window)
        return false;

    window->setPosition(0, false);
    if (const QSharedPointer<Preset> preset = presets.value(window->getLayoutId()))
        preset->setUsedState(win_id, false);
    currentWinId = windows.firstKey();
    WebrtcManager::instance()->switchWindow(pro_id, currentWinId, session_id);

    window->destroy();
    window.reset();
    windows.remove(win_id);
    windowNames.remove(win_id);
    return true;
}
