// ProjectObject: adding, changing and closing windows, and their numbering
// ranges and position options.
#include "ProjectObject.h"

#include "base/ApiReplies.h"
#include "base/BusIds.h"

#include "Preset.h"
#include "WindowObject.h"
#include "media/GlobalData.h"
#include "output/AudioOutputMixer.h"
#include "webrtc/WebrtcManager.h"

#include <QDebug>
#include <QRecursiveMutex>

#include <algorithm>

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
    // Any shared number counts, also a range that encloses the other one.
    for (auto it = windows.cbegin(); it != windows.cend(); ++it) {
        if (it.key() == win_id || !it.value() || !it.value()->getNumUsed())
            continue;
        int omin = 0, omax = 0;
        it.value()->getNumRange(omin, omax);
        if (HeldRanges::meet(min, max, omin, omax))
            return false;
    }
    return !heldRanges.meetsOther(win_id, min, max);
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
    QString win_id = QString::number(++lastWinId);
    windowNames.insert(win_id, request.value("name").toString());
    holdWindowRange(win_id, request);
    return win_id;
}

void ProjectObject::holdWindowRange(const QString& win_id, const QJsonObject& request)
{
    QMutexLocker lock(modelLock);
    WindowRequest r;
    const bool numbered = readWindowRequest(request, r) && r.number_used;
    heldRanges.hold(win_id, numbered, r.min, r.max);
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
    heldRanges.release(win_id);
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
        if (!heldRanges.holds(win_id))
            holdWindowRange(win_id, request);
        const QString builtFor = name;
        window = newWindow();
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
