#include "WindowObject.h"

#include "base/BusIds.h"

#include "MyTimer.h"
#include "base/Globals.h"
#include "output/AudioOutputMixer.h"
#include "output/MediaOutputManager.h"
#include "render/WindowMultiThreaded.h"
#include "sources/SourceManager.h"

#include <QDebug>
#include <QQmlContext>
#include <QQmlEngine>

#include <cmath>

WindowObject::WindowObject()
    : tick_timer(new MyTimer)
{
    connect(this, &Preset::audioTypeChanged, this, &WindowObject::onAudioTypeChanged);
    tick_timer->setFrameRate(timer_rate);
    connect(tick_timer, &MyTimer::requestUpdate, this, &WindowObject::requestUpdate, Qt::DirectConnection);
    qDebug() << "WindowObject enabled use timer";
}

WindowObject::~WindowObject()
{
    delete tick_timer;
}

QString WindowObject::rendererName() const
{
    return QStringLiteral("%1_%2").arg(pro_name, name);
}

void WindowObject::setWinParams(const QString& proId, const QString& proName, const QString& winId,
    const QString& newName, double newWidth, double newHeight, double newFrameRate)
{
    pro_id = proId;
    pro_name = proName;
    win_id = winId;
    const bool changed = newWidth != width || newHeight != height || std::fabs(frameRate - newFrameRate) > 0.01;
    if (name == newName && !changed)
        return;

    name = newName;
    frameRate = newFrameRate;
    width = newWidth;
    height = newHeight;
    // The tick follows the window's rate from the start, not only once a
    // renderer exists: a window loaded or made at 50 fps ticks every 20 ms.
    refreshFrameRate(frameRate);

    QMutexLocker lock(&render_mutex);
    if (!renderer)
        return;
    renderer->setName(rendererName());
    renderer->resize(static_cast<int>(width), static_cast<int>(height));
    renderer->setFrameRate(frameRate);
    if (changed)
        renderer->createZtEncoder();
}

void WindowObject::refreshFrameRate(double rate)
{
    if (static_cast<int>(std::fabs(timer_rate - rate) * 100) < 1)
        return;
    timer_rate = rate < 0 ? 50.0 : rate;
    tick_timer->setFrameRate(timer_rate);
}

void WindowObject::changeProName(const QString& proName)
{
    pro_name = proName;
    QMutexLocker lock(&render_mutex);
    if (renderer)
        renderer->setName(rendererName());
}

void WindowObject::setAspect(int newIndex, double newAspect)
{
    index = newIndex;
    aspect = newAspect;
}

void WindowObject::getAspect(int& outIndex, double& outAspect) const
{
    outIndex = index;
    outAspect = aspect;
}

void WindowObject::getSize(double& outWidth, double& outHeight) const
{
    outWidth = width;
    outHeight = height;
}

void WindowObject::setNdi_web_url(const QString& url)
{
    ndi_web_url = url;
}

void WindowObject::setAudioMixerObject(std::shared_ptr<AudioOutputMixer> pgm, std::shared_ptr<AudioOutputMixer> pvw)
{
    pgmMixer = std::move(pgm);
    pvwMixer = std::move(pvw);
}

QSharedPointer<WindowMultiThreaded> WindowObject::getRenderer() const
{
    QMutexLocker lock(&render_mutex);
    return renderer;
}

void WindowObject::createWindow()
{
    if (!pgmMixer || !pvwMixer)
        return;
    QSharedPointer<WindowMultiThreaded> window(new WindowMultiThreaded);
    window->setId(pro_id, win_id);
    window->setName(rendererName());
    window->resize(static_cast<int>(width), static_cast<int>(height));
    window->setFrameRate(frameRate);
    {
        QMutexLocker lock(&render_mutex);
        renderer = window;
    }

    MediaOutputManager::instance().setWebControl(pro_id, win_id, ndi_web_url);

    connect(this, &Preset::positionChanged, window.data(), &WindowMultiThreaded::onProcessPosition);
    connect(this, &Preset::liveChanged, window.data(), &WindowMultiThreaded::onProcessLive);
    // A window made again keeps one connection to itself.
    connect(this, &Preset::positionChanged, this, &WindowObject::changeScreenState, Qt::UniqueConnection);
    connect(this, &Preset::liveChanged, this, &WindowObject::changeNDIState, Qt::UniqueConnection);

    QQmlContext* context = window->getQmlEngine()->rootContext();
    context->setContextProperty("audioObject", pgmMixer.get());
    context->setContextProperty("pvwAudioObject", pvwMixer.get());
    context->setContextProperty("winObject", this);
    context->setContextProperty("sourceManager", SourceManager::instance());
    context->setContextProperty("windowId", win_id);
    context->setContextProperty("proId", pro_id);

    qDebug() << "createWindow isMain :" << true << ",g_resPath:" << g_resPath;
    window->loadQmlFile(g_resPath + "/qml/PanoptraLayout.qml");
    window->createZtEncoder();
    window->setNDIEnable(false);
    window->setScreenOutEnable(false);
}

void WindowObject::start()
{
    if (started)
        return;
    if (QSharedPointer<WindowMultiThreaded> window = getRenderer())
        window->startRender();
    tick_timer->startTimer();
    if (pgmMixer)
        pgmMixer->Open();
    if (pvwMixer)
        pvwMixer->Open();
    started = true;
}

void WindowObject::stop()
{
    if (!started)
        return;
    tick_timer->stopTimer();
    if (QSharedPointer<WindowMultiThreaded> window = getRenderer())
        window->stopRender();
    if (pgmMixer)
        pgmMixer->Close();
    if (pvwMixer)
        pvwMixer->Close();
    started = false;
}

void WindowObject::enableRender(bool enable)
{
    QSharedPointer<WindowMultiThreaded> window = getRenderer();
    qDebug() << "WindowObject::enableRender" << enable << pro_id << win_id << window.data();
    if (window)
        window->enableRender(enable);
    else
        qWarning() << "WindowObject::enableRender faild. " << window.data() << pro_id << win_id << enable;
}

void WindowObject::destroy()
{
    setUsedState(win_id, false);
    // The tick handler takes render_mutex: stop the tick before taking it.
    tick_timer->stopTimer();
    {
        QMutexLocker lock(&render_mutex);
        if (renderer) {
            renderer->destroy();
            renderer.reset();
        }
    }
    pgmMixer.reset();
    pvwMixer.reset();
    qDebug() << "WindowObject::destroy() done" << win_id;
}

bool WindowObject::read(const QJsonObject& file)
{
    const QJsonObject data = file.value("data").toObject();
    for (const char* key : { "pro_id", "win_id", "name", "index", "width", "height", "aspect", "frameRate" }) {
        if (!data.contains(QLatin1String(key))) {
            qDebug() << "[read] failed.";
            return false;
        }
    }
    pro_id = data.value("pro_id").toString();
    pro_name = data.value("pro_name").toString();
    win_id = data.value("win_id").toString();
    name = data.value("name").toString();
    width = data.value("width").toDouble();
    height = data.value("height").toDouble();
    index = data.value("index").toInt();
    aspect = data.value("aspect").toDouble();
    frameRate = data.value("frameRate").toDouble();
    refreshFrameRate(frameRate);
    readPreset(data.value("preset").toObject(), QStringLiteral("win_save"));
    return true;
}

void WindowObject::write(QJsonObject& file) const
{
    file.insert("data",
        QJsonObject {
            { "pro_id", pro_id },
            { "pro_name", pro_name },
            { "win_id", win_id },
            { "name", name },
            { "width", width },
            { "height", height },
            { "index", index },
            { "aspect", aspect },
            { "frameRate", frameRate },
            { "preset", writePreset(QStringLiteral("win_save")) },
        });
}

void WindowObject::requestUpdate()
{
    QMutexLocker lock(&render_mutex);
    if (renderer)
        renderer->refreshUI();
}

void WindowObject::onAudioTypeChanged(int, const QString&) { }

void WindowObject::pushGrid()
{
    emit gridChanged(pro_id, win_id);
}

void WindowObject::onFrameRateChanged(int pos_id, float fps)
{
    setFrameRate(pos_id, fps);
    pushGrid();
}

void WindowObject::onAspectRatioChanged(int pos_id, int xres, int yres)
{
    setAspectRatio(pos_id, xres, yres);
    pushGrid();
}

void WindowObject::changeScreenState(int screenIndex, bool)
{
    if (win_id != BusId::pvw() && pgmMixer)
        pgmMixer->setScreenState(win_id, screenIndex);
    else if (pvwMixer)
        pvwMixer->setScreenState(win_id, screenIndex);
}

void WindowObject::changeNDIState(const QString& select)
{
    const std::shared_ptr<AudioOutputMixer>& mixer = win_id == BusId::pvw() ? pvwMixer : pgmMixer;
    if (mixer)
        mixer->setNDIState(win_id, select);
}
