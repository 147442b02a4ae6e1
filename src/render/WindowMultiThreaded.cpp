#include "WindowMultiThreaded.h"

#include "base/Clock.h"
#include "base/ThreadCheck.h"

#include "FramelessWindow.h"
#include "QuickRenderer.h"
#include "output/MediaOutputManager.h"
#include "output/ZtGstEncoder.h"
#include "webrtc/WebrtcManager.h"

#include <QCoreApplication>
#include <QDebug>
#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <QQmlComponent>
#include <QQmlEngine>
#include <QQuickItem>
#include <QQuickRenderControl>
#include <QQuickWindow>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <cmath>

namespace {

const char* yesNo(bool b)
{
    return b ? "true" : "false";
}

} // namespace

WindowMultiThreaded::WindowMultiThreaded()
{
    qDebug() << "WindowMultiThreaded::WindowMultiThreaded";
    context = std::make_unique<QOpenGLContext>();
    context->setFormat(QSurfaceFormat::defaultFormat());
    if (!context->create())
        qWarning() << "WindowMultiThreaded: cannot create the OpenGL context";

    surface = std::make_unique<QOffscreenSurface>();
    surface->setFormat(context->format());
    surface->create();

    screen_window = std::make_unique<FramelessWindow>(context.get());
    screen_window->setFormat(context->format());
    screen_window->resize(1280, 720);

    render_control = std::make_unique<QQuickRenderControl>();
    quick_window = std::make_unique<QQuickWindow>(render_control.get());
    quick_window->setColor(Qt::transparent);

    engine = std::make_unique<QQmlEngine>();
    if (!engine->incubationController())
        engine->setIncubationController(quick_window->incubationController());

    quick_renderer = std::make_unique<QuickRenderer>();
    quick_renderer->setContext(context.get());
    quick_renderer->setSurface(surface.get());
    quick_renderer->setFramelessWindow(screen_window.get());
    quick_renderer->setScene(quick_window.get(), render_control.get());

    // Whatever changes in the scene, the next pass draws it; without a
    // change the renderer sends its last picture again. Emitted on the GUI
    // thread, also while the render thread syncs.
    for (auto changed : { &QQuickRenderControl::sceneChanged, &QQuickRenderControl::renderRequested }) {
        connect(
            render_control.get(), changed, this, [this] { quick_renderer->markSceneChanged(); }, Qt::DirectConnection);
    }

    render_thread = std::make_unique<QThread>();
    render_thread->setObjectName(QStringLiteral("panoptra-render"));
    render_control->prepareThread(render_thread.get());
    context->moveToThread(render_thread.get());
    quick_renderer->moveToThread(render_thread.get());
    render_thread->start(QThread::InheritPriority);

    // Sessions come and go on the HTTPS and network threads.
    connect(
        WebrtcManager::instance(), &WebrtcManager::viewersChanged, this,
        [this](const QString& pro, const QString& win) {
            if (pro == pro_id && win == win_id)
                setH264Viewers(WebrtcManager::instance()->viewerCount(pro_id, win_id));
        },
        Qt::QueuedConnection);
}

WindowMultiThreaded::~WindowMultiThreaded()
{
    qDebug() << "WindowMultiThreaded release";
    m_quickInitialized = false;
    disconnect(render_control.get(), nullptr, this, nullptr);
    QCoreApplication::removePostedEvents(this, kRequestEvent);
    QCoreApplication::removePostedEvents(this);
    quick_renderer->setFramelessWindow(nullptr);
    screen_window.reset();
    if (root_item && root_item->metaObject()->indexOfMethod("destroyAllObjects()") >= 0)
        QMetaObject::invokeMethod(root_item, "destroyAllObjects", Qt::DirectConnection);
    // The encoder's streaming threads end before the pools go (clean-up then
    // empties its queue), so none of them is still reading one of our frames.
    if (zt_encoder)
        zt_encoder->stop();
    quick_renderer->requestStop();
    render_thread->quit();
    render_thread->wait();
    quick_renderer.reset();
    render_thread.reset();
    render_control.reset();
    component.reset();
    delete root_item;
    root_item = nullptr;
    quick_window.reset();
    engine.reset();
    surface.reset();
    context.reset();
    zt_encoder.reset();
    MediaOutputManager::instance().removeItem(pro_id, win_id);
    qDebug() << "WindowMultiThreaded release done." << pro_id << win_id;
}

void WindowMultiThreaded::setId(const QString& proId, const QString& winId)
{
    pro_id = proId;
    win_id = winId;
    qDebug() << "WindowMultiThreaded::setId" << pro_id << win_id;
    quick_renderer->setId(pro_id, win_id);
    setH264Viewers(WebrtcManager::instance()->viewerCount(pro_id, win_id));
}

void WindowMultiThreaded::setName(const QString& name)
{
    output_name = name;
    quick_renderer->setName(name);
}

void WindowMultiThreaded::resize(int w, int h)
{
    const auto even = [](int v) { return v < 0 ? 0 : v - v % 2; };
    scene_width = even(w);
    scene_height = even(h);
    applySize();
}

void WindowMultiThreaded::applySize()
{
    if (root_item) {
        root_item->setWidth(scene_width);
        root_item->setHeight(scene_height);
    }
    quick_window->setGeometry(0, 0, scene_width, scene_height);
    quick_renderer->setSize(scene_width, scene_height);
}

void WindowMultiThreaded::setFrameRate(double fps)
{
    if (static_cast<int>(std::fabs(frame_rate - fps) * 100) < 1)
        return;
    frame_rate = fps < 0 ? 50.0 : fps;
    quick_renderer->setFrameRate(frame_rate);
}

QQmlEngine* WindowMultiThreaded::getQmlEngine() const
{
    return engine.get();
}

void WindowMultiThreaded::loadQmlFile(const QString& path)
{
    if (component || m_quickInitialized)
        return;
    qml_file = path;
    component = std::make_unique<QQmlComponent>(engine.get(), QUrl::fromLocalFile(path));
    if (component->isLoading())
        connect(component.get(), &QQmlComponent::statusChanged, this, &WindowMultiThreaded::run);
    else
        run();
}

void WindowMultiThreaded::run()
{
    disconnect(component.get(), &QQmlComponent::statusChanged, this, &WindowMultiThreaded::run);
    const auto logErrors = [this] {
        for (const QQmlError& error : component->errors())
            qWarning() << error.url() << error.line() << error.toString();
    };
    if (component->isError()) {
        logErrors();
        return;
    }
    QObject* root = component->create();
    if (component->isError()) {
        logErrors();
        delete root;
        return;
    }
    root_item = qobject_cast<QQuickItem*>(root);
    if (!root_item) {
        qWarning() << "run: Not a QQuickItem";
        delete root;
        return;
    }
    root_item->setParentItem(quick_window->contentItem());
    applySize();
    m_quickInitialized = true;
    quick_renderer->requestInit();
}

void WindowMultiThreaded::createZtEncoder()
{
    ++encoder_builds;
    int w = 0, h = 0;
    bool changed = false;
    quick_renderer->getH264Size(w, h, changed);
    if (w < 1 || h < 1)
        return;
    const double rate = frame_rate >= 50 ? frame_rate / 2 : frame_rate;
    if (rate <= 0)
        return;
    // The renderer lets go of the old encoder (setZtEncoder waits for a pass
    // that still uses it) before it is deleted.
    quick_renderer->setZtEncoder(nullptr);
    zt_encoder.reset();

    zt_encoder = std::make_unique<ZtGstEncoder>();
    const int n = static_cast<int>(rate);
    zt_encoder->setSrcImagePara(w, h, n, 9);
    zt_encoder->setEncodePara(w, h, n, 2 * n, 2000, 2, 0);
    zt_encoder->setId(pro_id, win_id);
    zt_encoder->setNaluSink(
        [](const QString& pro, const QString& win, const char* data, int length, uint32_t timestamp, int kind,
            int fps) { WebrtcManager::instance()->sendVideo(pro, win, data, length, timestamp, kind, fps); });
    if (zt_encoder->createEncoderElement()) {
        quick_renderer->setH264Enable(true);
        quick_renderer->setH264Timeout(frame_rate >= 50, rate);
        quick_renderer->setZtEncoder(zt_encoder.get());
        applyEncoderState();
        qDebug() << "ZtEncoder::setEncoderElement() ok";
    } else {
        qDebug() << "ZtEncoder::setEncoderElement() no";
    }
}

void WindowMultiThreaded::setH264Enable(bool enable)
{
    quick_renderer->setH264Enable(enable);
}

void WindowMultiThreaded::setH264Viewers(int viewers)
{
    const bool changed = (viewers > 0) != (h264_viewers > 0);
    h264_viewers = std::max(viewers, 0);
    if (changed)
        applyEncoderState();
}

void WindowMultiThreaded::applyEncoderState()
{
    const bool watched = h264_viewers > 0;
    if (watched) {
        // A stopped pipeline starts afresh: the first picture it sends is a key frame.
        if (zt_encoder)
            zt_encoder->start();
        quick_renderer->setH264Encode(true);
        return;
    }
    // The renderer stops feeding first; frames still queued belong to the
    // last viewer and are dropped with the stream.
    quick_renderer->setH264Encode(false);
    if (zt_encoder) {
        zt_encoder->stop();
        zt_encoder->clearData();
    }
}

void WindowMultiThreaded::setNDIEnable(bool enable)
{
    quick_renderer->setNdiEnable(enable);
}

void WindowMultiThreaded::setScreenOutEnable(bool enable)
{
    quick_renderer->setScreenOutEnable(enable);
}

void WindowMultiThreaded::refreshUI()
{
    if (m_enable_render)
        ++refresh_count;
    requestUpdate();
}

void WindowMultiThreaded::requestUpdate()
{
    const int64_t now = monotonicMs();
    {
        QMutexLocker lock(&request_mutex);
        if (now - last_log_time >= 60000) {
            qDebug() << "WindowMultiThreaded::requestUpdate window: " << QStringLiteral("%1_%2").arg(pro_id, win_id)
                     << "m_dropSendCount:" << m_dropSendCount << "m_enable_render:" << yesNo(m_enable_render)
                     << "m_quickInitialized" << yesNo(m_quickInitialized) << ",isMain:" << yesNo(onMainThread());
            last_log_time = now;
            m_dropSendCount = 0;
        }
        if (!m_quickInitialized || !m_enable_render) {
            ++m_dropSendCount;
            ++dropped_ticks_total;
            return;
        }
        if (request_pending)
            return;
        request_pending = true;
        last_request_time = now;
    }
    QCoreApplication::postEvent(this, new QEvent(QEvent::Type(kRequestEvent)));
}

void WindowMultiThreaded::polishSyncAndRender()
{
    QMutexLocker lock(&request_mutex);
    const int64_t now = monotonicMs();
    if (now - stats_start < 60000) {
        ++render_count;
    } else {
        qDebug() << "polishSyncAndRender window: " << QStringLiteral("%1_%2").arg(pro_id, win_id)
                 << " fs :" << render_count / 60.0 << "m_dropFrameCount:" << m_dropFrameCount
                 << ",isMain:" << yesNo(onMainThread());
        stats_start = now;
        render_count = 0;
        m_dropFrameCount = 0;
    }
    if (!m_enable_render || !m_quickInitialized) {
        ++m_dropFrameCount;
        return;
    }
    render_control->polishItems();
    // The scene must stand still while the render thread syncs it.
    quick_renderer->waitForSync(quick_renderer->requestRender());
    quick_renderer->drawScreen();
}

bool WindowMultiThreaded::event(QEvent* e)
{
    if (int(e->type()) == kRequestEvent) {
        polishSyncAndRender();
        request_pending = false;
        return true;
    }
    if (e->type() == QEvent::Close)
        quick_renderer->aboutToQuit();
    return QObject::event(e);
}

void WindowMultiThreaded::enableRender(bool enable)
{
    const QString id = QStringLiteral("%1_%2").arg(pro_id, win_id);
    qDebug() << "enableRender begin " << yesNo(enable) << id;
    QMutexLocker lock(&request_mutex);
    QCoreApplication::removePostedEvents(this, kRequestEvent);
    quick_renderer->clearRequestEvent();
    if (enable) {
        // Rendering resumes 100 ms later; a switch-off meanwhile wins.
        QTimer::singleShot(100, this, [this] {
            if (!m_enable_render_off_pending)
                m_enable_render = true;
        });
        m_enable_render_off_pending = false;
    } else {
        m_enable_render_off_pending = true;
        m_enable_render = false;
    }
    request_pending = false;
    qDebug() << "enableRender done " << yesNo(enable) << id;
}

void WindowMultiThreaded::startRender()
{
    if (zt_encoder && h264_viewers > 0)
        zt_encoder->start();
}

void WindowMultiThreaded::stopRender() { }

void WindowMultiThreaded::destroy() { }

void WindowMultiThreaded::onProcessPosition(int screenIndex, bool isFull)
{
    screen_index = screenIndex;
    quick_renderer->changeWindowPosition(screenIndex, isFull);
}

void WindowMultiThreaded::onProcessLive(const QString& select)
{
    live_select = select;
    const bool on = select == QLatin1String("ndi") || select == QLatin1String("NDI");
    quick_renderer->setNdiEnable(on);
    MediaOutputManager::instance().setNDIEnable(pro_id, win_id, on);
}
