#include "ProjectObject.h"

#include "base/ApiReplies.h"
#include "base/BusIds.h"
#include "base/ThreadCheck.h"

#include "LayoutTemplate.h"
#include "Preset.h"
#include "WindowObject.h"
#include "output/AudioOutputMixer.h"

#include <QDebug>
#include <QJsonArray>
#include <QRecursiveMutex>

#include <algorithm>

namespace {

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
    applyBusParams();
}

void ProjectObject::applyBusParams()
{
    for (const QString& bus : { BusId::pvw(), BusId::pgm() }) {
        if (QSharedPointer<WindowObject> window = windows.value(bus))
            window->setWinParams(pro_id, name, bus, BusId::label(bus), width, height, frameRate);
    }
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

QSharedPointer<WindowObject> ProjectObject::newWindow()
{
    QSharedPointer<WindowObject> window(new WindowObject);
    connect(window.data(), &WindowObject::gridChanged, this, &ProjectObject::gridChanged, Qt::DirectConnection);
    return window;
}

QSharedPointer<WindowObject> ProjectObject::makeWindow(const QString& win_id, const QString& win_name)
{
    QSharedPointer<WindowObject> window = newWindow();
    windows.insert(win_id, window);
    window->setWinParams(pro_id, name, win_id, win_name, width, height, frameRate);
    return window;
}

void ProjectObject::createWindows()
{
    qDebug() << "ProjectObject createWindows" << onMainThread();

    if (!windows.isEmpty()) {
        for (auto it = windows.cbegin(); it != windows.cend(); ++it) {
            const QSharedPointer<WindowObject>& window = it.value();
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
    for (const QString& bus : { BusId::pvw(), BusId::pgm() }) {
        QSharedPointer<WindowObject> window = makeWindow(bus, BusId::label(bus));
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

void ProjectObject::changeAudioDevice(const QAudioDeviceInfo& device)
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
