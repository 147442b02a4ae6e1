#include "QuickRenderer.h"

#include "DrawnTiles.h"
#include "base/Clock.h"
#include "base/ThreadCheck.h"

#include "FramelessWindow.h"
#include "PboRenderer.h"
#include "ScreensControl.h"
#include "output/MediaOutputManager.h"
#include "output/ZtGstEncoder.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDebug>
#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <QOpenGLFramebufferObject>
#include <QOpenGLFunctions>
#include <QQuickRenderControl>
#include <QQuickWindow>
#include <QThread>

#include <algorithm>

namespace {

const char* yesNo(bool b)
{
    return b ? "true" : "false";
}

// How many recent timings the statistics keep.
constexpr size_t kTimeSamples = 4096;

} // namespace

QuickRenderer::QuickRenderer()
    : drawn_tiles(std::make_unique<DrawnTiles>())
{
    qDebug() << "Create QuickRenderer. isMain:" << yesNo(onMainThread());
}

QuickRenderer::~QuickRenderer()
{
    qDebug() << "QuickRenderer release done. " << QStringLiteral("%1_%2").arg(settings.pro_id, settings.win_id);
}

void QuickRenderer::setId(const QString& pro_id, const QString& win_id)
{
    QMutexLocker lock(&settings_mutex);
    settings.pro_id = pro_id;
    settings.win_id = win_id;
}

void QuickRenderer::setName(const QString& name)
{
    QMutexLocker lock(&settings_mutex);
    settings.name = name;
}

void QuickRenderer::setContext(QOpenGLContext* ctx)
{
    context = ctx;
}

void QuickRenderer::setSurface(QOffscreenSurface* s)
{
    surface = s;
}

void QuickRenderer::setScene(QQuickWindow* window, QQuickRenderControl* control)
{
    quick_window = window;
    render_control = control;
}

void QuickRenderer::setFramelessWindow(FramelessWindow* window)
{
    screen_window = window;
}

void QuickRenderer::setFrameRate(double fps)
{
    QMutexLocker lock(&settings_mutex);
    settings.fps = fps;
}

void QuickRenderer::setZtEncoder(ZtGstEncoder* encoder)
{
    {
        QMutexLocker lock(&settings_mutex);
        settings.encoder = encoder;
    }
    // A pass that copied the old pointer runs under pass_mutex: once we get
    // it, that pass is over and later passes see the new pointer.
    QMutexLocker pass(&pass_mutex);
}

void QuickRenderer::setH264Timeout(bool halve, double rate)
{
    QMutexLocker lock(&settings_mutex);
    settings.halve = halve;
    settings.halved_rate = rate;
}

void QuickRenderer::setH264Enable(bool enable)
{
    QMutexLocker lock(&settings_mutex);
    settings.h264 = enable;
}

void QuickRenderer::setH264Encode(bool encode)
{
    {
        QMutexLocker lock(&settings_mutex);
        settings.encode = encode;
    }
    // As setZtEncoder: a pass that copied the old switch has ended once we get this.
    if (!encode) {
        QMutexLocker pass(&pass_mutex);
    }
}

void QuickRenderer::setNdiEnable(bool enable)
{
    QMutexLocker lock(&settings_mutex);
    settings.ndi = enable;
}

void QuickRenderer::setScreenOutEnable(bool enable)
{
    QMutexLocker lock(&settings_mutex);
    settings.screen = enable;
}

QSize QuickRenderer::encodingSize(int w, int h)
{
    const int encodeWidth = w > h ? 1280 : 720;
    if (w < 1 || h < 1)
        return QSize(encodeWidth, 0);
    // The encoder takes even sizes only.
    const auto even = [](double side) { return std::max(kMinEncodeSide, int(side) - int(side) % 2); };
    const double encodeHeight = double(encodeWidth) / w * h;
    if (encodeHeight <= kMaxEncodeSide && encodeHeight >= kMinEncodeSide)
        return QSize(encodeWidth, even(encodeHeight));
    // A narrow scene would give a height of hundreds of thousands of lines
    // (buffers of gigabytes, an encoder that never starts) or of one or two:
    // the longer side is held at the cap with the aspect kept, and neither
    // side goes below the encoder's smallest.
    const double scale = double(kMaxEncodeSide) / std::max(w, h);
    return QSize(even(std::min(double(kMaxEncodeSide), w * scale)), even(std::min(double(kMaxEncodeSide), h * scale)));
}

void QuickRenderer::setSize(int w, int h)
{
    const QSize encoding = encodingSize(w, h);
    const int encodeWidth = encoding.width();
    const int encodeHeight = encoding.height();
    {
        QMutexLocker lock(&settings_mutex);
        settings.width = w;
        settings.height = h;
        if (encodeWidth != settings.h264_width || encodeHeight != settings.h264_height) {
            settings.h264_width = encodeWidth;
            settings.h264_height = encodeHeight;
            h264_size_changed = true;
        }
    }
    if (h >= 1 && screen_window)
        screen_window->setVideoRatio(float(w) / float(h));
}

void QuickRenderer::getH264Size(int& w, int& h, bool& changed)
{
    QMutexLocker lock(&settings_mutex);
    w = settings.h264_width;
    h = settings.h264_height;
    changed = h264_size_changed;
    h264_size_changed = false;
}

void QuickRenderer::setH264Size(int w, int h)
{
    QMutexLocker lock(&settings_mutex);
    settings.h264_width = w;
    settings.h264_height = h;
}

void QuickRenderer::changeWindowPosition(int screenIndex, bool)
{
    ASSERT_MAIN_THREAD("QuickRenderer::changeWindowPosition");
    if (!screen_window)
        return;
    if (screenIndex < 1) {
        setScreenOutEnable(false);
        screen_window->setCloseEnable(true);
        screen_window->hide();
        return;
    }
    setScreenOutEnable(true);
    ScreensControl* screens = ScreensControl::instance();
    const QRect geometry = screens->getScreenGeometry(screenIndex);
    // Xvfb's extra screens all sit at (0, 0): geometry alone would open the
    // window on the first one.
    if (QScreen* screen = screens->getScreen(screenIndex))
        screen_window->setScreen(screen);
    screen_window->setScreenGeometry(geometry);
    screen_window->setGeometry(geometry);
    screen_window->setCloseEnable(false);
    screen_window->setFullscreenState(true);
    screen_window->setFullscreenEnable(true);
    screen_window->show();
}

void QuickRenderer::markSceneChanged()
{
    scene_changed = true;
}

void QuickRenderer::requestInit()
{
    QCoreApplication::postEvent(this, new QEvent(kInitEvent));
}

void QuickRenderer::requestResize()
{
    QCoreApplication::postEvent(this, new QEvent(kResizeEvent));
}

void QuickRenderer::init()
{
    ASSERT_THREAD_OF(this, "QuickRenderer::init");
    m_request_stop = false;
    stopped = false;
    drawn_once = false;
    QMutexLocker gl(&gl_mutex);
    if (!context || !surface || !render_control)
        return;
    if (!context->makeCurrent(surface)) {
        qWarning() << "Failed to make context current on render thread";
        return;
    }
    render_control->initialize(context);
}

uint64_t QuickRenderer::requestRender()
{
    ASSERT_MAIN_THREAD("QuickRenderer::requestRender");
    const int64_t now = monotonicMs();
    if (now - lost_log_time >= 60000) {
        qDebug() << "QuickRenderer event lost count ." << lost_count
                 << QStringLiteral("%1_%2").arg(settings.pro_id, settings.win_id) << "eventFlag:" << yesNo(pending)
                 << "m_dropFrame:" << m_dropFrame << "m_request_stop:" << yesNo(m_request_stop)
                 << "m_quit:" << yesNo(m_quit) << "render:[in:" << render_in << ",out:" << render_out << "]"
                 << "step:" << step1 << step2 << step3 << ",isMain:" << yesNo(onMainThread());
        lost_log_time = now;
        lost_count = 0;
        m_dropFrame = 0;
    }
    QMutexLocker lock(&request_mutex);
    if (m_quit && m_request_stop)
        return 0;
    if (m_request_stop || stopped)
        return 0;
    if (pending) {
        ++lost_count;
        ++m_dropFrame;
        QMutexLocker s(&stats_mutex);
        ++total_lost;
        return 0;
    }
    pending = true;
    const uint64_t ticket = ++posted_ticket;
    pass_ticket = ticket;
    {
        QMutexLocker s(&stats_mutex);
        ++total_requests;
    }
    QCoreApplication::postEvent(this, new QEvent(kRenderEvent));
    return ticket;
}

bool QuickRenderer::waitForSync(uint64_t ticket, int timeoutMs)
{
    ASSERT_MAIN_THREAD("QuickRenderer::waitForSync");
    if (ticket == 0)
        return true;
    QMutexLocker lock(&sync_mutex);
    QDeadlineTimer deadline(timeoutMs);
    while (synced_ticket < ticket && !m_request_stop && !stopped) {
        if (!sync_done.wait(&sync_mutex, deadline)) {
            qWarning() << "QuickRenderer: the render thread did not sync within" << timeoutMs << "ms"
                       << QStringLiteral("%1_%2").arg(settings.pro_id, settings.win_id);
            return false;
        }
    }
    return true;
}

void QuickRenderer::releaseSync(uint64_t ticket)
{
    QMutexLocker lock(&sync_mutex);
    if (ticket > synced_ticket)
        synced_ticket = ticket;
    sync_done.wakeAll();
}

void QuickRenderer::clearRequestEvent()
{
    const QString id = QStringLiteral("%1_%2").arg(settings.pro_id, settings.win_id);
    qDebug() << "QuickRenderer::clearRequestEvent() begin. " << id;
    QMutexLocker lock(&request_mutex);
    const int64_t start = monotonicMs();
    QCoreApplication::removePostedEvents(this, kRenderEvent);
    // A removed event leaves pending set; a pass in progress clears it.
    while (pending && monotonicMs() - start <= 999)
        QThread::msleep(10);
    const bool isRunning = pending;
    pending = false;
    releaseSync(posted_ticket);
    qDebug() << "QuickRenderer::clearRequestEvent() done."
             << "isRunning:" << yesNo(isRunning) << monotonicMs() - start << id;
}

void QuickRenderer::requestStop()
{
    ASSERT_MAIN_THREAD("QuickRenderer::requestStop");
    const QString id = QStringLiteral("%1_%2").arg(settings.pro_id, settings.win_id);
    qDebug() << "requestStop:" << id;
    const int64_t start = monotonicMs();
    {
        QMutexLocker lock(&request_mutex);
        m_request_stop = true;
        QCoreApplication::removePostedEvents(this, kRenderEvent);
    }
    releaseSync(UINT64_MAX);
    QCoreApplication::postEvent(this, new QEvent(kCleanupEvent));
    // The clean-up must run on the render thread, where the context is
    // current: the window ends that thread next, and what the clean-up left
    // would then go on this thread without a context. So the wait lasts as
    // long as the pass in progress does (seconds on a busy machine); the
    // window joins that thread next anyway.
    bool late = false;
    while (!stopped && thread()->isRunning()) {
        if (!late && monotonicMs() - start >= 5000) {
            late = true;
            qWarning() << "requestStop: the render pass in progress is still running after 5 s" << id;
        }
        QThread::msleep(10);
    }
    qDebug() << "requestStop done. " << id << monotonicMs() - start;
}

void QuickRenderer::aboutToQuit()
{
    m_quit = true;
}

bool QuickRenderer::event(QEvent* e)
{
    ASSERT_THREAD_OF(this, "QuickRenderer::event");
    switch (int(e->type())) {
    case kInitEvent:
        init();
        return true;
    case kRenderEvent:
        ++render_in;
        render();
        pending = false;
        ++render_out;
        return true;
    case kResizeEvent:
        return true;
    case kCleanupEvent:
        cleanup();
        return true;
    default:
        return QObject::event(e);
    }
}

bool QuickRenderer::checkSettings(const Settings& s)
{
    const bool sizeOk = s.width >= 2 && s.height >= 2 && s.width <= kMaxSide && s.height <= kMaxSide;
    const bool rateOk = s.fps != 0.0;
    if (sizeOk && rateOk) {
        bad_input_logged = false;
        return true;
    }
    if (!bad_input_logged) {
        qWarning() << "QuickRenderer: nothing rendered for" << QStringLiteral("%1_%2").arg(s.pro_id, s.win_id) << "size"
                   << s.width << "x" << s.height << "frame rate" << s.fps;
        bad_input_logged = true;
    }
    return false;
}

void QuickRenderer::render()
{
    ASSERT_THREAD_OF(this, "QuickRenderer::render");
    QMutexLocker pass(&pass_mutex);
    const uint64_t ticket = pass_ticket;
    // Whatever way the pass ends, the GUI thread waiting for it goes on.
    struct SyncGuard {
        QuickRenderer* self;
        uint64_t ticket;
        ~SyncGuard() { self->releaseSync(ticket); }
    } guard { this, ticket };

    const int64_t start = monotonicMs();
    const double startF = monotonicMsF();
    Settings s;
    {
        QMutexLocker lock(&settings_mutex);
        s = settings;
    }
    const QString id = QStringLiteral("%1_%2").arg(s.pro_id, s.win_id);
    if (render_log_time < 0)
        render_log_time = start;
    if (start - render_log_time >= 60000) {
        qDebug() << "quickrender render window name #1: " << id << ",isMain:" << yesNo(onMainThread());
        render_log_time = start;
    }
    if (!s.screen && !s.ndi && !s.h264)
        return;
    if (!render_control || m_request_stop)
        return;
    if (!checkSettings(s))
        return;
    ++step1;
    if (!context || !context->isValid() || !context->makeCurrent(surface)) {
        qWarning() << "Failed to make context current on render thread";
        return;
    }
    if (!converter) {
        converter = std::make_unique<PboRenderer>();
        converter->setContext(context);
        qDebug() << "create new pbo renderer. " << id;
    }
    converter->setId(s.pro_id, s.win_id);
    converter->setZtEncoder(s.encode ? s.encoder : nullptr);
    converter->reduceHalfFrames(s.halve, s.halved_rate);

    const QSize size(s.width, s.height);
    if (framebuffer && framebuffer->size() != size)
        framebuffer.reset();
    const bool framebufferMade = !framebuffer;
    if (!framebuffer) {
        framebuffer = std::make_unique<QOpenGLFramebufferObject>(
            size, QOpenGLFramebufferObject::CombinedDepthStencil, GL_TEXTURE_2D);
        quick_window->setRenderTarget(framebuffer.get());
    }

    // Each conversion runs only for a consumer: the network output when it is
    // on, the H.264 picture when somebody watches the stream or reads the
    // bus window's holder.
    const bool ndiPass = !m_quit && s.ndi;
    const bool h264Pass
        = !m_quit && s.h264 && s.h264_width > 0 && s.h264_height > 0 && (s.encode || converter->holderWanted());
    const bool wanted = ndiPass || h264Pass || s.screen;

    ++step2;
    // Taken before the sync: a change the GUI thread makes after it is drawn
    // by the next pass.
    const bool sceneChanged = scene_changed.exchange(false);
    render_control->sync();
    releaseSync(ticket);
    bool draw = sceneChanged || mustDraw(s, framebufferMade) || (wanted && undrawn_changes);
    if (!draw) {
        // The tiles' passes run on every pass (they pull pictures, carry takes
        // and report their sources' states); a picture nobody takes is not drawn.
        const bool tilesChanged = drawn_tiles->runPassesAhead();
        draw = tilesChanged && wanted;
        undrawn_changes = undrawn_changes || (tilesChanged && !wanted);
        if (!draw)
            drawn_tiles->dropPassesAhead();
    }
    if (draw) {
        DrawnTiles::Drawing drawing(*drawn_tiles);
        render_control->render();
        context->functions()->glFlush();
        drawn_once = true;
        drawn_fps = s.fps;
        undrawn_changes = false;
    }
    ++step3;
    const double synced = monotonicMsF();

    {
        // Counted before the pictures go out: whoever sees one sees the counts.
        QMutexLocker lock(&stats_mutex);
        drawn_passes += draw;
        h264_conversions += h264Pass;
        ndi_conversions += ndiPass;
    }
    const unsigned texture = framebuffer->texture();
    if (ndiPass)
        converter->addFrameForNDIEnc(size, size, s.name, s.fps, texture, !draw);
    if (h264Pass)
        converter->addFrameForH264Enc(size, QSize(s.h264_width, s.h264_height), s.fps, texture, !draw);
    const double converted = monotonicMsF();
    if (s.screen)
        publishScreenFrame(s, draw);
    else
        withdrawScreenFrame();
    // Our own GL calls changed state Qt Quick relies on.
    quick_window->resetOpenGLState();

    const double endF = monotonicMsF();
    {
        QMutexLocker lock(&stats_mutex);
        recordTime(pass_times, endF - startF);
        if (ndiPass || h264Pass)
            recordTime(convert_times, converted - synced);
    }
    const int64_t end = monotonicMs();
    if (start - stats_start < 60000) {
        ++render_count;
    } else {
        qDebug() << "quickrender render window name : " << id << " fs :" << render_count / 60.0
                 << "render time :" << (end - start) << ",#2" << int64_t(synced - startF)
                 << ",isMain:" << yesNo(onMainThread());
        render_count = 0;
        stats_start = start;
    }
    if (end - start >= 1001)
        qDebug() << "quickrender render window name : " << id << ", render time :" << (end - start) << ",#2"
                 << int64_t(synced - startF) << ",isMain:" << yesNo(onMainThread());
}

void QuickRenderer::recordTime(std::deque<double>& samples, double ms)
{
    samples.push_back(ms);
    if (samples.size() > kTimeSamples)
        samples.pop_front();
}

// Besides a change in the scene or its tiles: the first pass, a new
// framebuffer (a new size) and another rate (the pictures carry it).
bool QuickRenderer::mustDraw(const Settings& s, bool framebufferMade)
{
    return !drawn_once || framebufferMade || s.fps != drawn_fps;
}

void QuickRenderer::publishScreenFrame(const Settings& s, bool drawn)
{
    const QSize size(s.width, s.height);
    QMutexLocker lock(&screen_mutex);
    // Nothing new was drawn: the published copy still shows the picture.
    if (!drawn && published_texture != 0 && screen_framebuffer && screen_framebuffer->size() == size)
        return;
    if (screen_framebuffer && screen_framebuffer->size() != size) {
        published_texture = 0;
        screen_framebuffer.reset();
    }
    if (!screen_framebuffer)
        screen_framebuffer = std::make_unique<QOpenGLFramebufferObject>(size, GL_TEXTURE_2D);
    QOpenGLFramebufferObject::blitFramebuffer(screen_framebuffer.get(), framebuffer.get());
    // The screen window's context reads it: the copy must be complete first.
    context->functions()->glFinish();
    published_texture = screen_framebuffer->texture();
}

void QuickRenderer::withdrawScreenFrame()
{
    QMutexLocker lock(&screen_mutex);
    published_texture = 0;
    screen_framebuffer.reset();
}

void QuickRenderer::drawScreen()
{
    ASSERT_MAIN_THREAD("QuickRenderer::drawScreen");
    QMutexLocker lock(&screen_mutex);
    if (screen_window && screen_window->isVisible())
        screen_window->render(published_texture);
}

unsigned QuickRenderer::publishedTexture() const
{
    QMutexLocker lock(&screen_mutex);
    return published_texture;
}

QuickRenderer::Stats QuickRenderer::stats() const
{
    Stats out;
    QMutexLocker lock(&stats_mutex);
    out.requests = total_requests;
    out.lost = total_lost;
    out.passes = step3;
    out.drawn = drawn_passes;
    out.h264_conversions = h264_conversions;
    out.ndi_conversions = ndi_conversions;
    out.pass_ms.assign(pass_times.begin(), pass_times.end());
    out.convert_ms.assign(convert_times.begin(), convert_times.end());
    return out;
}

void QuickRenderer::cleanup()
{
    ASSERT_THREAD_OF(this, "QuickRenderer::cleanup");
    qDebug() << "cleanup";
    Settings s;
    {
        QMutexLocker lock(&settings_mutex);
        s = settings;
    }
    QMutexLocker gl(&gl_mutex);
    QCoreApplication::removePostedEvents(this, kRenderEvent);
    QCoreApplication::removePostedEvents(this);
    // No frame may outlive its pixels: everything downstream that keeps one
    // of our frames lets go before the pools go. The network sender is
    // flushed and dropped with its kept frame, the encoder's queue emptied,
    // the holder's frame released.
    MediaOutputManager::instance().removeItem(s.pro_id, s.win_id);
    if (s.encoder)
        s.encoder->clearData();
    if (context && surface && context->makeCurrent(surface)) {
        if (converter)
            converter->releaseHolderFrame();
        if (render_control)
            render_control->invalidate();
        {
            QMutexLocker lock(&screen_mutex);
            published_texture = 0;
            screen_framebuffer.reset();
        }
        if (quick_window)
            quick_window->setRenderTarget(nullptr);
        framebuffer.reset();
        // GL objects die with their context current.
        converter.reset();
        context->doneCurrent();
    } else if (converter || framebuffer) {
        qWarning() << "QuickRenderer::cleanup: no current context; GL objects left to the context"
                   << QStringLiteral("%1_%2").arg(s.pro_id, s.win_id);
        (void)converter.release();
        (void)framebuffer.release();
    }
    // The window deletes the context on the GUI thread once this thread ended.
    if (context)
        context->moveToThread(QCoreApplication::instance()->thread());
    context = nullptr;
    stopped = true;
    releaseSync(UINT64_MAX);
}
