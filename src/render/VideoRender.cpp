#include "VideoRender.h"

#include "base/BusIds.h"
#include "base/Clock.h"
#include "base/ThreadCheck.h"

#include "OpenGLRenderNode.h"
#include "PreviewFrame.h"
#include "ProgramFrame.h"
#include "RenderNodeInput.h"
#include "media/FrameQueue.h"
#include "media/VideoFrame.h"
#include "sources/MediaConnection.h"
#include "sources/SourceManager.h"

#include <QDebug>
#include <QThread>

#include <algorithm>
#include <cmath>

namespace {

constexpr int64_t kStatsPeriodMs = 60000;
// Passes without a picture before a shown source counts as loading again.
constexpr int64_t kPlayCountdown = 30;
// A switch to a new source waits this long for its first picture.
constexpr int64_t kSwitchWaitMs = 999;
// A source the table does not know is looked up again at most this often,
// so a pass never queues behind the table for a source that is not there.
constexpr int64_t kRetryMs = 250;
constexpr double kNoLevel = -200.0;

bool hasPicture(const VideoFramePtr& frame)
{
    return frame && frame->frame.p_data;
}

bool singleField(const Media_video_frame_t& frame)
{
    return frame.frame_format_type == NDIlib_frame_format_type_field_0
        || frame.frame_format_type == NDIlib_frame_format_type_field_1;
}

} // namespace

VideoRender::VideoRender(QQuickItem* parent)
    : QQuickItem(parent)
    , m_node(std::make_shared<RenderNodeInput>())
{
    setFlag(QQuickItem::ItemHasContents);
    std::fill(std::begin(m_levels), std::end(m_levels), 0.0);
    m_node->setPassCallback([this] { updateVideo(); });
}

VideoRender::~VideoRender()
{
    stopLiving();
    // From here on no pass reaches this item, even one its node still draws.
    m_node->clearPassCallback();
    QMutexLocker lock(&m_mutex);
    release(m_nextConnection, false);
    release(m_connection, false);
}

// ---- Properties ------------------------------------------------------------

QString VideoRender::proId() const
{
    QMutexLocker lock(&m_mutex);
    return m_proId;
}

void VideoRender::setProId(const QString& id)
{
    QMutexLocker lock(&m_mutex);
    m_proId = id;
}

QString VideoRender::output() const
{
    QMutexLocker lock(&m_mutex);
    return m_output;
}

void VideoRender::setOutput(const QString& output)
{
    QMutexLocker lock(&m_mutex);
    m_output = output;
}

float VideoRender::winW() const
{
    QMutexLocker lock(&m_mutex);
    return m_winW;
}

void VideoRender::setWinW(float w)
{
    QMutexLocker lock(&m_mutex);
    m_winW = w;
}

float VideoRender::winH() const
{
    QMutexLocker lock(&m_mutex);
    return m_winH;
}

void VideoRender::setWinH(float h)
{
    QMutexLocker lock(&m_mutex);
    m_winH = h;
}

float VideoRender::offset() const
{
    QMutexLocker lock(&m_mutex);
    return m_offset;
}

void VideoRender::setOffset(float offset)
{
    QMutexLocker lock(&m_mutex);
    m_offset = offset;
}

float VideoRender::itemX() const
{
    QMutexLocker lock(&m_mutex);
    return m_itemX;
}

void VideoRender::setItemX(float x)
{
    QMutexLocker lock(&m_mutex);
    m_itemX = x;
    m_node->updateCoordinateSystem(m_winW, m_winH, m_offset, m_itemX, m_itemY, width(), height());
}

float VideoRender::itemY() const
{
    QMutexLocker lock(&m_mutex);
    return m_itemY;
}

void VideoRender::setItemY(float y)
{
    QMutexLocker lock(&m_mutex);
    m_itemY = y;
    m_node->updateCoordinateSystem(m_winW, m_winH, m_offset, m_itemX, m_itemY, width(), height());
}

QString VideoRender::borderColor() const
{
    QMutexLocker lock(&m_mutex);
    return m_borderColor;
}

void VideoRender::setBorderColor(const QString& color)
{
    QMutexLocker lock(&m_mutex);
    m_borderColor = color;
    sendOptions();
}

int VideoRender::borderWidth() const
{
    QMutexLocker lock(&m_mutex);
    return m_borderWidth;
}

void VideoRender::setBorderWidth(int width)
{
    QMutexLocker lock(&m_mutex);
    m_borderWidth = width;
    sendOptions();
}

bool VideoRender::showCenterCross() const
{
    QMutexLocker lock(&m_mutex);
    return m_showCenterCross;
}

void VideoRender::setCenterCross(bool show)
{
    QMutexLocker lock(&m_mutex);
    m_showCenterCross = show;
    sendOptions();
}

bool VideoRender::show16x9Area() const
{
    QMutexLocker lock(&m_mutex);
    return m_show16x9Area;
}

void VideoRender::set16x9Area(bool show)
{
    QMutexLocker lock(&m_mutex);
    m_show16x9Area = show;
    sendOptions();
}

QString VideoRender::loadingState() const
{
    QMutexLocker lock(&m_mutex);
    return m_state;
}

int VideoRender::bandwidth() const
{
    QMutexLocker lock(&m_mutex);
    return m_bandwidth;
}

float VideoRender::frameRate() const
{
    QMutexLocker lock(&m_mutex);
    return m_frameRate;
}

// ---- Helpers ---------------------------------------------------------------

void VideoRender::sendOptions()
{
    RenderOptions options;
    options.borderShown = m_borderWidth != 0;
    options.show16x9Area = m_show16x9Area;
    options.showCenterCross = m_showCenterCross;
    const QColor named(m_pgmTally ? QStringLiteral("red") : m_pvwTally ? QStringLiteral("green") : m_borderColor);
    if (named.isValid())
        options.borderColor = named;
    options.borderWidth = m_borderWidth;
    options.tallyState = m_tallyState;
    m_node->setOption(options);
}

void VideoRender::applyBandwidth(const QString& bw)
{
    if (bw.isEmpty())
        return;
    const bool high = bw == QLatin1String("true") || bw == QLatin1String("TRUE") || bw == QLatin1String("high")
        || bw == QLatin1String("HIGH");
    const int mode = high ? 1 : 2;
    if (mode != m_bandwidth) {
        m_prevBandwidth = m_bandwidth;
        m_bandwidth = mode;
    }
}

VideoRender::ConnectionPtr VideoRender::lookUp(const QString& source) const
{
    return SourceManager::instance()->getConnection(source);
}

void VideoRender::attach(const ConnectionPtr& connection, bool full)
{
    connection->stickConnection(false);
    connection->startPlay();
    connection->acquireVideoGetting(MediaConnection::BandWidth_t(m_bandwidth), this);
    if (full) {
        connection->setAudioLevel(m_output, m_audioLevel);
        connection->enableAudio(m_audioEnabled, this);
        connection->enableTally(m_output, true, this);
    }
    m_attachTime = monotonicMs();
}

void VideoRender::release(ConnectionPtr& connection, bool withLevel)
{
    if (!connection)
        return;
    if (withLevel)
        connection->setAudioLevel(m_output, m_audioLevel);
    connection->enableAudio(false, this);
    connection->enableTally(m_output, false, this);
    // Both streams; each closes about a second after its last consumer.
    connection->releaseVideoGetting(MediaConnection::BandWidthBoth, this);
    if (connection.use_count() == 1)
        connection->stopPlay();
    connection.reset();
}

void VideoRender::notify(std::function<void()> emitSignal)
{
    if (QThread::currentThread() == thread())
        emitSignal();
    else
        QMetaObject::invokeMethod(this, std::move(emitSignal), Qt::QueuedConnection);
}

void VideoRender::setLoading(const QString& state, bool always)
{
    if (always || m_state != state)
        notify([this, state] { emit notifyLoading(state, 0); });
    m_state = state;
}

void VideoRender::clearTakeValues()
{
    m_taking = false;
    m_takeProgress = 0;
    m_takeTime = 0;
    m_takeFrames = 0;
}

bool VideoRender::isBusTile() const
{
    return BusId::isBus(m_winType);
}

// The is-taking flag of the program holder, and with it the preview's.
void VideoRender::clearHolderTaking(bool program)
{
    const std::shared_ptr<FrameQueue> holder
        = program ? ProgramFrame::instance()->getFrame(m_proId) : PreviewFrame::instance()->getFrame(m_proId);
    if (!holder->getIsTaking())
        return;
    holder->setIsTaking(false);
    if (program)
        PreviewFrame::instance()->getFrame(m_proId)->setIsTaking(false);
}

// The bus window's own tile ends the take state of its bus once its pass
// carried the take out, whether or not it has a source to show.
void VideoRender::clearHolderTakeState()
{
    std::shared_ptr<FrameQueue> holder;
    if (m_output == BusId::pvw())
        holder = PreviewFrame::instance()->getFrame(m_proId);
    else if (m_output == BusId::pgm())
        holder = ProgramFrame::instance()->getFrame(m_proId);
    if (holder && holder->getTakeState())
        holder->setTakeState(false);
}

// ---- Requests from the scene -----------------------------------------------

bool VideoRender::changeSource(QString source, QString bw, bool isTake)
{
    const SourceChangeRequest request { std::move(source), std::move(bw), isTake };
    std::lock_guard<std::mutex> lock(m_requestMutex);
    if (std::find(m_requests.begin(), m_requests.end(), request) == m_requests.end())
        m_requests.push_back(request);
    m_requestsPending = true;
    return true;
}

void VideoRender::changeBandWidth(const QString& bw)
{
    QMutexLocker lock(&m_mutex);
    applyBandwidth(bw);
}

void VideoRender::applyRequests()
{
    std::vector<SourceChangeRequest> batch;
    {
        std::lock_guard<std::mutex> lock(m_requestMutex);
        batch.swap(m_requests);
        m_requestsPending = false;
    }
    for (const SourceChangeRequest& request : batch)
        insideUpdateSource(request.source, request.bandwidth, request.isTake);
}

bool VideoRender::insideUpdateSource(const QString& source, const QString& bw, bool isTake)
{
    QMutexLocker lock(&m_mutex);
    applyBandwidth(bw);
    if (!isTake) {
        clearTakeValues();
        m_node->setAlpha(0);
    }
    if (source == m_source) {
        qDebug() << "source is not changed" << source;
        return true;
    }
    m_source = source;
    m_node->setSourceName(source);
    if (!m_living) {
        qDebug() << "source is not living." << source;
        return true;
    }
    release(m_nextConnection);

    if (source.isEmpty()) {
        release(m_connection);
        m_playCountdown = 0;
        setLoading(QStringLiteral("idle"), true);
        // A tile nothing is routed to any more draws black: a frozen last
        // picture would show a camera that is no longer there.
        m_node->clearPicture();
        return true;
    }
    if (!m_connection && !m_taking) {
        m_connection = lookUp(source);
        if (!m_connection) {
            m_node->clearPicture();
            setLoading(QStringLiteral("failed"), true);
            return true;
        }
        setLoading(QStringLiteral("loading"), true);
        m_playCountdown = 0;
        attach(m_connection, true);
        return true;
    }
    m_nextConnection = lookUp(source);
    if (!m_nextConnection) {
        release(m_connection);
        m_node->clearPicture();
        setLoading(QStringLiteral("failed"), true);
        return true;
    }
    attach(m_nextConnection, false);
    m_taking = true;
    m_takeProgress = 0;
    m_takeTime = 0;
    m_takeFrames = 0;
    if (m_output == BusId::pgm())
        ProgramFrame::instance()->getFrame(m_proId)->setIsTaking(true);
    else if (m_output == BusId::pvw())
        PreviewFrame::instance()->getFrame(m_proId)->setIsTaking(true);
    qDebug() << "Start smooth transition to new source:" << source << QStringLiteral("%1_%2").arg(m_proId, m_output);
    return true;
}

// ---- The render pass -------------------------------------------------------

void VideoRender::updateVideo()
{
    QMutexLocker lock(&m_mutex);
    const int64_t now = monotonicMs();
    if (now - m_statTime < kStatsPeriodMs) {
        ++m_statCount;
    } else {
        if (m_statTime != 0)
            qDebug() << "updateVideo window: " << QStringLiteral("%1_%2").arg(m_proId, m_output)
                     << " fs :" << m_statCount / 60.0;
        m_statTime = now;
        m_statCount = 0;
    }

    if (m_destroyRequested.exchange(false)) {
        qDebug() << "Start closing connections. isMain:" << onMainThread();
        for (ConnectionPtr* connection : { &m_connection, &m_nextConnection }) {
            if (*connection && connection->use_count() == 1)
                (*connection)->stopPlay();
            connection->reset();
        }
        qDebug() << "close connect ptr done. isMain:" << onMainThread();
    }
    if (m_requestsPending)
        applyRequests();

    if (isBusTile()) {
        const std::shared_ptr<FrameQueue> holder = m_winType == BusId::pgm()
            ? ProgramFrame::instance()->getFrame(m_proId)
            : PreviewFrame::instance()->getFrame(m_proId);
        const std::shared_ptr<VideoFrame> frame = holder->getFrameData();
        if (frame)
            m_node->setVideo(frame);
        if (frame && frame->data()) {
            const int n = frame->frameRateNumerator(), d = frame->frameRateDenominator();
            if (n > 0 && d > 0 && d <= n)
                m_frameRate = float(n) / float(d);
            if (m_playCountdown < 1 && m_state != QLatin1String("play"))
                notify([this] { emit notifyLoading(QStringLiteral("play"), 0); });
            m_state = QStringLiteral("play");
            m_playCountdown = kPlayCountdown;
            sendOptions();
        }
        return;
    }

    // Connect when needed; a source the table does not know is retried.
    if (m_living && !m_source.isEmpty()) {
        ConnectionPtr& wanted = m_taking ? m_nextConnection : m_connection;
        if (!wanted && now - m_attachTime >= kRetryMs) {
            wanted = lookUp(m_source);
            m_attachTime = now;
            if (wanted) {
                m_playCountdown = 0;
                setLoading(QStringLiteral("loading"), false);
                attach(wanted, true);
            } else if (m_state != QLatin1String("failed")) {
                m_node->clearPicture();
                setLoading(QStringLiteral("failed"), false);
            }
        }
    }

    if (m_prevBandwidth != 0) {
        for (const ConnectionPtr& connection : { m_nextConnection, m_connection }) {
            if (!connection)
                continue;
            connection->releaseVideoGetting(MediaConnection::BandWidth_t(m_prevBandwidth), this);
            connection->acquireVideoGetting(MediaConnection::BandWidth_t(m_bandwidth), this);
        }
        m_prevBandwidth = 0;
    }

    if (m_living && m_connection)
        m_connection->getVUMeterValues(m_levels);
    else
        std::fill(std::begin(m_levels), std::end(m_levels), kNoLevel);

    if (!m_connection && !m_nextConnection) {
        clearTakeValues();
        if (m_output == BusId::pgm()) {
            m_node->setAlpha(0);
            clearHolderTaking(true);
        }
        clearHolderTakeState();
        sendOptions();
        return;
    }
    paint();
}

void VideoRender::paint()
{
    const bool wasTaking = m_taking;
    if (wasTaking) {
        clearTakeValues();
        if (m_output == BusId::pgm()) {
            const std::shared_ptr<FrameQueue> program = ProgramFrame::instance()->getFrame(m_proId);
            if (program->getIsTaking())
                program->setIsTaking(false);
            m_node->setAlpha(1.0f);
        }
    }

    VideoFramePtr nextFrame;
    bool switching = wasTaking;
    if (m_nextConnection) {
        nextFrame = m_nextConnection->getVideoFrame(MediaConnection::BandWidth_t(m_bandwidth));
        if (hasPicture(nextFrame) || monotonicMs() - m_attachTime > kSwitchWaitMs)
            switching = true;
    }
    if (switching) {
        release(m_connection);
        if (m_nextConnection) {
            m_connection = std::move(m_nextConnection);
            m_nextConnection.reset();
            m_connection->setAudioLevel(m_output, m_audioLevel);
            m_connection->enableAudio(m_audioEnabled, this);
            m_connection->enableTally(m_output, true, this);
            m_playCountdown = 0;
        }
        if (m_output == BusId::pgm())
            m_node->setAlpha(0);
        else if (m_output == BusId::pvw())
            clearHolderTaking(false);
    }
    clearHolderTakeState();

    if (!m_connection)
        return;
    const VideoFramePtr frame = switching && hasPicture(nextFrame)
        ? nextFrame
        : m_connection->getVideoFrame(MediaConnection::BandWidth_t(m_bandwidth));
    // The connection goes on handing out the last picture of a source that
    // stopped sending: only a picture not seen before counts as one.
    const bool fresh = hasPicture(frame) && isNewPicture(frame);
    if (fresh || (frame && !hasPicture(frame)))
        m_node->setVideo(frame);

    if (fresh) {
        reportFrame(frame);
        return;
    }
    const int64_t before = m_playCountdown--;
    if (before == 0) {
        if (m_state != QLatin1String("loading")) {
            m_resolution[0] = m_resolution[1] = 0;
            m_frameRate = 0;
            notify([this] {
                emit notifyLoading(QStringLiteral("loading"), 0);
                emit frameRateChanged(0, 0, 0);
                emit resolutionChanged(0, 0);
            });
        }
        m_state = QStringLiteral("loading");
    }
}

bool VideoRender::isNewPicture(const VideoFramePtr& frame)
{
    const int64_t stamp = frame->frame.timestamp;
    const bool seen = m_lastPicture.lock() == frame || (stamp != 0 && stamp == m_lastPictureStamp);
    m_lastPicture = frame;
    m_lastPictureStamp = stamp;
    return !seen;
}

void VideoRender::reportFrame(const VideoFramePtr& received)
{
    const Media_video_frame_t& frame = received->frame;
    if (m_playCountdown <= 0 && m_state != QLatin1String("play")) {
        notify([this] { emit notifyLoading(QStringLiteral("play"), 0); });
        m_state = QStringLiteral("play");
    }
    m_playCountdown = kPlayCountdown;
    sendOptions();

    if (frame.frame_rate_D >= 1) {
        const float fps = float(frame.frame_rate_N) / float(frame.frame_rate_D);
        if (fps > 0 && fps != m_frameRate) {
            m_frameRate = fps;
            notify([this, fps, n = frame.frame_rate_N, d = frame.frame_rate_D] { emit frameRateChanged(fps, n, d); });
        }
    }
    // A single field reports the height of the whole picture.
    int height = frame.yres;
    const float aspect = frame.picture_aspect_ratio;
    if (singleField(frame) && aspect > 0 && frame.yres > 0
        && std::fabs(float(frame.xres) / float(frame.yres) - aspect) > 0.1f)
        height = int(float(frame.xres) / aspect);
    if (frame.xres != m_resolution[0] || height != m_resolution[1]) {
        m_resolution[0] = frame.xres;
        m_resolution[1] = height;
        notify([this, width = frame.xres, height] { emit resolutionChanged(width, height); });
    }
    const float shown
        = m_resolution[0] > 0 && m_resolution[1] > 0 ? float(m_resolution[0]) / float(m_resolution[1]) : 0;
    if (std::fabs(m_aspect - shown) > 0.001f) {
        m_aspect = shown;
        notify([this] { emit aspectChanged(); });
    }
}

QSGNode* VideoRender::updatePaintNode(QSGNode* oldNode, UpdatePaintNodeData*)
{
    QMutexLocker lock(&m_mutex);
    auto* node = static_cast<OpenGLRenderNode*>(oldNode);
    if (!node) {
        node = new OpenGLRenderNode(m_node);
        m_node->setWin_type(m_winType);
        m_node->setSourceName(m_source);
        sendOptions();
    }
    node->sync(this);
    m_node->updateCoordinateSystem(m_winW, m_winH, m_offset, m_itemX, m_itemY, width(), height());
    m_node->setAngle(m_angle);
    return node;
}

// ---- Audio, tally, take ----------------------------------------------------

double VideoRender::getVolume(int channel)
{
    QMutexLocker lock(&m_mutex);
    return channel < 0 ? m_levels[0] : m_levels[channel & 15];
}

int VideoRender::getTallyActive()
{
    QMutexLocker lock(&m_mutex);
    return m_connection ? m_connection->getVideoTallyValue() : 0;
}

void VideoRender::setAudioLevel(int level)
{
    QMutexLocker lock(&m_mutex);
    m_audioLevel = level == 6 ? 10 : level == 10 ? 6 : level == 20 ? 0 : 20;
    if (m_connection)
        m_connection->setAudioLevel(m_output, m_audioLevel);
}

void VideoRender::enableAudio(bool on)
{
    QMutexLocker lock(&m_mutex);
    m_audioEnabled = on;
    if (m_connection)
        m_connection->enableAudio(on, this);
}

void VideoRender::updateAudio()
{
    QMutexLocker lock(&m_mutex);
    if (m_living && m_connection)
        m_connection->getVUMeterValues(m_levels);
    else
        std::fill(std::begin(m_levels), std::end(m_levels), kNoLevel);
}

void VideoRender::updateTally(const QString& type)
{
    bool start;
    {
        QMutexLocker lock(&m_mutex);
        qDebug() << "updateTally" << type;
        m_winType = type;
        m_node->setWin_type(type);
        m_pvwTally = type == BusId::pvw();
        m_pgmTally = type == BusId::pgm();
        if (m_connection)
            m_connection->enableTally(m_output, true, this);
        sendOptions();
        start = m_pvwTally || m_pgmTally;
    }
    if (start)
        startLiving();
    qDebug() << "updateTally done";
}

void VideoRender::changeTallyState(int state)
{
    {
        QMutexLocker lock(&m_mutex);
        m_tallyState = state;
        sendOptions();
    }
    updateRender();
}

void VideoRender::setTransitionType(int type)
{
    QMutexLocker lock(&m_mutex);
    if (type == m_transitionType)
        return;
    m_transitionType = type;
    m_node->setTransitionEffect(type);
}

void VideoRender::doTake(int time, int type, float progress, const QString& source)
{
    QMutexLocker lock(&m_mutex);
    m_transitionType = type;
    m_node->setTransitionEffect(type);
    m_takeProgress = progress;
    m_takeTime = time;
    m_takeFrames = 0;
    m_taking = true;
    qDebug() << "doTake " << source << m_proId << m_output;
}

void VideoRender::setAngle(int angle)
{
    {
        QMutexLocker lock(&m_mutex);
        if (angle == m_angle)
            return;
        m_angle = angle;
        m_node->setAngle(angle);
    }
    updateRender();
}

void VideoRender::sendRenderUpdate()
{
    updateRender();
}

// The item's window is asked from the item's own thread.
void VideoRender::updateRender()
{
    if (QThread::currentThread() == thread())
        update();
    else
        QMetaObject::invokeMethod(this, &QQuickItem::update, Qt::QueuedConnection);
}

// ---- Living ----------------------------------------------------------------

void VideoRender::startLiving()
{
    QMutexLocker lock(&m_mutex);
    qDebug() << "startLiving" << QStringLiteral("%1_%2").arg(m_proId, m_output) << m_source << "m_living:" << m_living;
    if (!m_living) {
        m_living = true;
        if (!(m_frameRate > 0))
            m_frameRate = 25.0f;
        m_playCountdown = 0;
        std::fill(std::begin(m_levels), std::end(m_levels), kNoLevel);
        m_aspect = 0;
        m_resolution[0] = m_resolution[1] = 0;
        emit aspectChanged();
    }
    if (!m_connection && !m_source.isEmpty()) {
        m_connection = lookUp(m_source);
        m_attachTime = monotonicMs();
        if (m_connection) {
            setLoading(QStringLiteral("loading"), true);
            attach(m_connection, true);
        } else {
            m_node->clearPicture();
            setLoading(QStringLiteral("failed"), true);
        }
    } else {
        setLoading(QStringLiteral("idle"), true);
    }
    m_node->enablePass();
    qDebug() << "startLiving done";
}

void VideoRender::stopLiving()
{
    qDebug() << "function stopLiving begin";
    // Disabled first, then a pass in progress is waited for; the item lock
    // is not held here, since a pass takes it.
    m_node->disablePass();
    QMutexLocker lock(&m_mutex);
    if (m_living) {
        m_living = false;
        m_node->clearPicture();
        release(m_nextConnection, false);
        release(m_connection, false);
        sendOptions();
        std::fill(std::begin(m_levels), std::end(m_levels), kNoLevel);
        m_source.clear();
        m_resolution[0] = m_resolution[1] = 0;
    }
    qDebug() << "stopLiving done";
}

void VideoRender::destroyConnection()
{
    m_destroyRequested = true;
    QMutexLocker lock(&m_mutex);
    qDebug() << "destroyConnection. " << m_proId << m_output << m_source << m_bandwidth << "isMain:" << onMainThread();
}
