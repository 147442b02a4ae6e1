#include "MediaConnection.h"

#include "base/BusIds.h"
#include "base/Clock.h"

#include "MediaContext.h"
#include "media/AudioMixSink.h"
#include "media/GlobalData.h"

#include <QDebug>
#include <QThread>
#include <QTimer>

#include <pthread.h>
#include <sys/time.h>

#include <algorithm>
#include <chrono>
#include <cmath>

namespace {

constexpr double kSilenceDb = -200.0;
constexpr int64_t kAudioPeriodUs = 20000;
constexpr int64_t kStatsWindowMs = 60000;

bool hasPicture(const VideoFramePtr& frame)
{
    return frame && frame->frame.p_data;
}

// Milliseconds between pictures at N/D frames per second; 0 when the rate
// is unusable (a source may state 0/0 or 0/1 before it knows its rate).
int frameIntervalMs(int numerator, int denominator)
{
    if (numerator < 1 || denominator < 1)
        return 0;
    return int(1000.0 * denominator / numerator);
}

std::atomic<int64_t (*)()> g_steadyClock { nullptr };

bool onlyStickMarker(const QList<void*>& consumers)
{
    return consumers.size() == 1 && consumers.first() == nullptr;
}

void addOnce(QList<void*>& list, void* consumer)
{
    if (!list.contains(consumer))
        list.append(consumer);
}

} // namespace

MediaConnection::MediaConnection(QObject* parent)
    : QObject(parent)
{
    for (auto& value : m_vu)
        value = kSilenceDb;
    m_high.context = std::make_unique<MediaContext>(*this, BandWidthHigh);
    m_low.context = std::make_unique<MediaContext>(*this, BandWidthLow);
    const int64_t now = steadyMs();
    m_high.lastRequest = now;
    m_low.lastRequest = now;
    makeTimerThread(m_high.thread, m_high.timer, kDefaultVideoIntervalMs, QStringLiteral("source video high"),
        &MediaConnection::timedGetHighBwVideoFrame);
    makeTimerThread(m_low.thread, m_low.timer, kDefaultVideoIntervalMs, QStringLiteral("source video low"),
        &MediaConnection::timedGetLowBwVideoFrame);
    makeTimerThread(m_periodThread, m_periodTimer, kPeriodCheckMs, QStringLiteral("source period"),
        &MediaConnection::timedPeriodCheck);
}

MediaConnection::~MediaConnection()
{
    destroy();
}

void MediaConnection::makeTimerThread(
    QThread*& thread, QTimer*& timer, int intervalMs, const QString& name, void (MediaConnection::*slot)())
{
    thread = new QThread(this);
    thread->setObjectName(name);
    timer = new QTimer;
    timer->setTimerType(Qt::PreciseTimer);
    timer->setInterval(intervalMs);
    timer->moveToThread(thread);
    // Both signals are emitted on the new thread, where the timer lives.
    connect(thread, &QThread::started, timer, qOverload<>(&QTimer::start));
    connect(thread, &QThread::finished, timer, &QTimer::stop);
    connect(timer, &QTimer::timeout, this, slot, Qt::DirectConnection);
}

void MediaConnection::setSteadyClock(int64_t (*now)())
{
    g_steadyClock = now;
}

int64_t MediaConnection::steadyMs() const
{
    int64_t (*const now)() = g_steadyClock;
    return now ? now() : monotonicMs();
}

void MediaConnection::destroy()
{
    {
        std::lock_guard<std::mutex> locker(m_threadMutex);
        if (m_destroyed)
            return;
        m_destroyed = true;
    }
    qDebug() << "MediaConnection destroy start. " << getSourceName();
    stopPlay();
    m_high.context->Unuse();
    m_low.context->Unuse();
    qDebug() << "MediaConnection destroy done. ";
}

bool MediaConnection::setSource(BandWidth_t bw, const QString& name, const QString& url)
{
    switch (bw) {
    case BandWidthBoth:
        m_high.context->ChangeSource(name, url);
        return m_low.context->ChangeSource(name, url);
    case BandWidthHigh:
        return m_high.context->ChangeSource(name, url);
    case BandWidthLow:
        return m_low.context->ChangeSource(name, url);
    default:
        return false;
    }
}

bool MediaConnection::startPlay()
{
    std::lock_guard<std::mutex> locker(m_threadMutex);
    if (m_destroyed)
        return true;
    for (QThread* thread : { m_high.thread, m_low.thread, m_periodThread }) {
        if (thread && !thread->isRunning())
            thread->start(QThread::InheritPriority);
    }
    if (!m_audioThread.joinable()) {
        m_audioRun = true;
        m_audioThread = std::thread(&MediaConnection::timedGetAudioFrame, this);
    }
    return true;
}

bool MediaConnection::stopPlay()
{
    clearAllObjects();
    return true;
}

void MediaConnection::clearAllObjects()
{
    qDebug() << "clearAllObjects start.";
    std::lock_guard<std::mutex> locker(m_threadMutex);
    if (m_audioThread.joinable()) {
        m_audioRun = false;
        m_audioThread.join();
        qDebug() << "delete m_audioThread.";
    }
    const auto stop = [](QThread*& thread, QTimer*& timer, const char* what) {
        if (!thread)
            return;
        if (thread->isRunning()) {
            thread->quit();
            thread->wait();
        }
        // The thread has ended (or never ran): nothing else touches the
        // timer any more, so it can go from here.
        delete timer;
        timer = nullptr;
        delete thread;
        thread = nullptr;
        if (what)
            qDebug() << what;
    };
    stop(m_high.thread, m_high.timer, "delete m_highVideoThread.");
    stop(m_low.thread, m_low.timer, "delete m_lowVideoThread.");
    stop(m_periodThread, m_periodTimer, nullptr);
    qDebug() << "clearAllObjects done.";
}

bool MediaConnection::acquireVideoGetting(BandWidth_t bw, void* consumer)
{
    const bool high = bw == BandWidthBoth || bw == BandWidthHigh;
    const bool low = bw == BandWidthBoth || bw == BandWidthLow;
    {
        QWriteLocker locker(&m_videoLock);
        if (high) {
            addOnce(m_high.consumers, consumer);
            m_high.releaseDeadline = 0;
        }
        if (low) {
            addOnce(m_low.consumers, consumer);
            m_low.releaseDeadline = 0;
        }
    }
    if (high)
        m_high.context->Use();
    if (low)
        m_low.context->Use();
    return true;
}

bool MediaConnection::releaseVideoGetting(BandWidth_t bw, void* consumer)
{
    const int64_t deadline = steadyMs() + kReleaseDelayMs;
    QWriteLocker locker(&m_videoLock);
    const auto release = [&](VideoStream& stream) {
        stream.consumers.removeAll(consumer);
        if (stream.consumers.isEmpty())
            stream.releaseDeadline = deadline;
    };
    if (bw == BandWidthBoth || bw == BandWidthHigh)
        release(m_high);
    if (bw == BandWidthBoth || bw >= BandWidthLow)
        release(m_low);
    return true;
}

VideoFramePtr MediaConnection::getVideoFrame(BandWidth_t bw)
{
    VideoStream& own = bw == BandWidthHigh ? m_high : m_low;
    VideoStream& partner = bw == BandWidthHigh ? m_low : m_high;
    const int64_t now = steadyMs();
    own.lastRequest = now;

    VideoFramePtr frame = own.context->GetLastVideoFrame();
    if (hasPicture(frame)) {
        // The own stream delivers: a partner started as a fallback may go.
        partner.releaseDeadline = now;
        return frame;
    }
    // Whatever the partner shows now goes to a consumer, so it counts as
    // asked for: a partner nobody else requests would otherwise stop pulling
    // once the connection is older than the idle limit.
    if (!partner.context->Inuse()) {
        if (now - own.context->lastVideoTime() < kFallbackAfterMs)
            return frame;
        partner.releaseDeadline = 0;
        partner.lastRequest = now;
        partner.context->Use();
        return frame;
    }
    partner.releaseDeadline = 0;
    partner.lastRequest = now;
    VideoFramePtr other = partner.context->GetLastVideoFrame();
    return hasPicture(other) ? other : frame;
}

bool MediaConnection::getVideoFrameInfo(BandWidth_t bw, int& width, int& height, float& fps)
{
    VideoStream& own = bw == BandWidthHigh ? m_high : m_low;
    VideoStream& partner = bw == BandWidthHigh ? m_low : m_high;
    VideoFramePtr frame = own.context->GetLastVideoFrame();
    if (!hasPicture(frame) && partner.context->Inuse()) {
        VideoFramePtr other = partner.context->GetLastVideoFrame();
        if (hasPicture(other))
            frame = other;
    }
    if (!frame)
        return false;
    const Media_video_frame_t& f = frame->frame;
    width = f.xres;
    height = f.yres;
    fps = f.frame_rate_D < 1 ? 0.0f : float(f.frame_rate_N) / float(f.frame_rate_D);
    return true;
}

AudioFramePtr MediaConnection::getAudioFrame()
{
    AudioFramePtr frame = m_high.context->GetLastAudioFrame();
    if (frame && frame->frame.p_data)
        return frame;
    return m_low.context->GetLastAudioFrame();
}

void MediaConnection::enableAudio(bool on, void* consumer)
{
    if (!consumer)
        return;
    QWriteLocker locker(&m_audioLock);
    if (on)
        addOnce(m_audioConsumers, consumer);
    else
        m_audioConsumers.removeAll(consumer);
}

void MediaConnection::setAudioLevel(const QString& type, int level)
{
    if (BusId::isBus(type))
        return;
    m_audioLevel = level;
}

void MediaConnection::enableTally(const QString& type, bool on, void* consumer)
{
    if (!consumer)
        return;
    const bool preview = type == BusId::pvw();
    if (!preview && type != BusId::pgm())
        return;
    bool lit;
    {
        QWriteLocker locker(&m_tallyLock);
        QList<void*>& list = preview ? m_pvwTally : m_pgmTally;
        if (on)
            addOnce(list, consumer);
        else
            list.removeAll(consumer);
        lit = !list.isEmpty();
    }
    for (MediaContext* context : { m_high.context.get(), m_low.context.get() }) {
        if (preview)
            context->SetPvw(lit);
        else
            context->SetPgm(lit);
    }
}

int MediaConnection::getVideoInterval(BandWidth_t bw)
{
    return bw == BandWidthHigh ? m_high.interval : m_low.interval;
}

int MediaConnection::getVUMeterValues(double values[kVuChannels])
{
    for (int c = 0; c < kVuChannels; ++c)
        values[c] = m_vu[c].load(std::memory_order_relaxed);
    return kAudioChannels;
}

int MediaConnection::getVideoTallyValue()
{
    return m_high.context->getTallyValue() | m_low.context->getTallyValue();
}

std::shared_ptr<Media_capabilities_t> MediaConnection::getCapabilities(BandWidth_t bw)
{
    if (bw == BandWidthHigh)
        return m_high.context->GetCapabilities();
    if (bw == BandWidthBoth) {
        auto high = m_high.context->GetCapabilities();
        return high ? high : m_low.context->GetCapabilities();
    }
    return m_low.context->GetCapabilities();
}

bool MediaConnection::isValid()
{
    return m_high.context->Valid() || m_low.context->Valid();
}

bool MediaConnection::stickConnection(bool stick)
{
    if (stick) {
        acquireVideoGetting(BandWidthHigh, nullptr);
        acquireVideoGetting(BandWidthLow, nullptr);
    } else {
        releaseVideoGetting(BandWidthHigh, nullptr);
        releaseVideoGetting(BandWidthLow, nullptr);
    }
    return stick;
}

bool MediaConnection::isSticked()
{
    QReadLocker locker(&m_videoLock);
    return m_high.consumers.contains(nullptr);
}

bool MediaConnection::onBothStreams(const std::function<bool(const MediaInstancePtr&)>& op)
{
    const bool high = m_high.context->withInstance(op);
    const bool low = m_low.context->withInstance(op);
    return high || low;
}

bool MediaConnection::setPtzZoom(float zoom)
{
    return onBothStreams([&](const MediaInstancePtr& i) { return ptzZoom(i, zoom); });
}

bool MediaConnection::setPtzZoomSpeed(float speed)
{
    return onBothStreams([&](const MediaInstancePtr& i) { return ptzZoomSpeed(i, speed); });
}

bool MediaConnection::setPtzPanTilt(float pan, float tilt)
{
    return onBothStreams([&](const MediaInstancePtr& i) { return ptzPanTilt(i, pan, tilt); });
}

bool MediaConnection::setPtzPanTiltSpeed(float panSpeed, float tiltSpeed)
{
    return onBothStreams([&](const MediaInstancePtr& i) { return ptzPanTiltSpeed(i, panSpeed, tiltSpeed); });
}

bool MediaConnection::setPtzStorePreset(int preset)
{
    return onBothStreams([&](const MediaInstancePtr& i) { return ptzStorePreset(i, preset); });
}

bool MediaConnection::setPtzRecallPreset(int preset, float speed)
{
    return onBothStreams([&](const MediaInstancePtr& i) { return ptzRecallPreset(i, preset, speed); });
}

bool MediaConnection::setPtzAutoFocus()
{
    return onBothStreams([&](const MediaInstancePtr& i) { return ptzAutoFocus(i); });
}

bool MediaConnection::setPtzFocus(float focus)
{
    return onBothStreams([&](const MediaInstancePtr& i) { return ptzFocus(i, focus); });
}

bool MediaConnection::setPtzFocusSpeed(float speed)
{
    return onBothStreams([&](const MediaInstancePtr& i) { return ptzFocusSpeed(i, speed); });
}

bool MediaConnection::setPtzWhiteBalanceAuto()
{
    return onBothStreams([&](const MediaInstancePtr& i) { return ptzWhiteBalanceAuto(i); });
}

bool MediaConnection::setPtzWhiteBalanceIndoor()
{
    return onBothStreams([&](const MediaInstancePtr& i) { return ptzWhiteBalanceIndoor(i); });
}

bool MediaConnection::setPtzWhiteBalanceOutdoor()
{
    return onBothStreams([&](const MediaInstancePtr& i) { return ptzWhiteBalanceOutdoor(i); });
}

bool MediaConnection::setPtzWhiteBalanceOneshot()
{
    return onBothStreams([&](const MediaInstancePtr& i) { return ptzWhiteBalanceOneshot(i); });
}

bool MediaConnection::setPtzWhiteBalanceManual(float red, float blue)
{
    return onBothStreams([&](const MediaInstancePtr& i) { return ptzWhiteBalanceManual(i, red, blue); });
}

bool MediaConnection::setPtzExposureAuto()
{
    return onBothStreams([&](const MediaInstancePtr& i) { return ptzExposureAuto(i); });
}

bool MediaConnection::setPtzExposureManual(float level)
{
    return onBothStreams([&](const MediaInstancePtr& i) { return ptzExposureManual(i, level); });
}

bool MediaConnection::isSupportPtz()
{
    const auto support = [this](const MediaInstancePtr& i) { return supportPtz(i); };
    return m_high.context->withInstance(support) && m_low.context->withInstance(support);
}

QString MediaConnection::getSourceName()
{
    return m_high.context ? m_high.context->name() : QString();
}

bool MediaConnection::getUse()
{
    QReadLocker locker(&m_audioLock);
    return !m_audioConsumers.isEmpty();
}

void MediaConnection::setHighBwVideoInterval(int ms)
{
    m_high.interval = ms;
}

void MediaConnection::setLowBwVideoInterval(int ms)
{
    m_low.interval = ms;
}

void MediaConnection::setAudioInterval(int ms)
{
    m_audioInterval = ms;
}

std::mutex& MediaConnection::sinkMutex()
{
    static std::mutex mutex;
    return mutex;
}

void MediaConnection::setSink(const QString& pro_id, const QString& type)
{
    if (pro_id.isEmpty() || type.isEmpty())
        return;
    std::lock_guard<std::mutex> locker(sinkMutex());
    m_sinks[pro_id][type] = true;
}

void MediaConnection::removeSink(const QString& pro_id, const QString& type)
{
    std::lock_guard<std::mutex> locker(sinkMutex());
    auto it = m_sinks.find(pro_id);
    if (it != m_sinks.end())
        it->remove(type);
}

void MediaConnection::timedGetHighBwVideoFrame()
{
    timedGetVideoFrame(m_high, true);
}

void MediaConnection::timedGetLowBwVideoFrame()
{
    timedGetVideoFrame(m_low, false);
}

void MediaConnection::timedGetVideoFrame(VideoStream& own, bool high)
{
    MediaContext* context = own.context.get();
    if (!context->Inuse())
        return;
    const int64_t now = steadyMs();
    bool stickOnly;
    {
        // Held across the close, so a consumer arriving now either keeps
        // the stream open or opens it again after the close.
        QReadLocker locker(&m_videoLock);
        stickOnly = onlyStickMarker(own.consumers);
        const int64_t deadline = own.releaseDeadline;
        if (own.consumers.isEmpty() && deadline != 0 && now >= deadline) {
            context->Unuse();
            own.releaseDeadline = 0;
            return;
        }
    }
    if (now - own.lastRequest >= kIdleRequestMs)
        return;

    const VideoFramePtr frame = context->RetrivalVideoFrame(stickOnly);
    if (frame) {
        const int interval = frameIntervalMs(frame->frame.frame_rate_N, frame->frame.frame_rate_D);
        if (interval >= 1 && interval != own.interval) {
            own.interval = interval;
            own.timer->setInterval(interval);
        }
    }

    if (own.statsStart == 0)
        own.statsStart = now;
    if (hasPicture(frame))
        ++own.statsFrames;
    if (now - own.statsStart >= kStatsWindowMs) {
        qDebug() << (high ? "highbw source : " : "lowbw source : ") << context->name() << context->url()
                 << " fs :" << own.statsFrames / 60.0;
        own.statsStart = now;
        own.statsFrames = 0;
    }
}

void MediaConnection::timedPeriodCheck()
{
    const bool highInUse = m_high.context->Inuse();
    const QString highName = m_high.context->name();
    if (highInUse)
        emit updateCapabilities(highName, BandWidthHigh);
    if (m_low.context->Inuse()) {
        const QString lowName = m_low.context->name();
        if (!highInUse || lowName != highName)
            emit updateCapabilities(lowName, BandWidthLow);
    }
}

AudioFramePtr MediaConnection::getAudioPtr(bool hasAudioConsumers)
{
    const auto stickOnly = [&](const VideoStream& stream) {
        if (hasAudioConsumers)
            return false;
        QReadLocker locker(&m_videoLock);
        return onlyStickMarker(stream.consumers);
    };
    AudioFramePtr high;
    if (m_high.context->Inuse()) {
        high = m_high.context->RetrivalAudioFrame(stickOnly(m_high), kAudioSamples, m_audioLevel);
        if (high && high->frame.p_data)
            return high;
    }
    if (m_low.context->Inuse())
        return m_low.context->RetrivalAudioFrame(stickOnly(m_low), kAudioSamples, m_audioLevel);
    return high;
}

void MediaConnection::getPcmDb(const AudioFramePtr& frame)
{
    if (!frame || !frame->frame.p_data) {
        for (auto& value : m_vu)
            value.store(kSilenceDb, std::memory_order_relaxed);
        return;
    }
    const Media_audio_frame_t& f = frame->frame;
    const int channels = std::max(0, f.no_channels);
    for (int c = 0; c < kVuChannels; ++c) {
        float peak = 0.0f;
        if (c < channels) {
            for (int i = 0; i < f.no_samples; ++i)
                peak = std::max(peak, std::fabs(f.p_data[size_t(i) * size_t(channels) + size_t(c)]));
        }
        m_vu[c].store(peak > 0.0f ? 20.0 * std::log10(double(peak)) : kSilenceDb, std::memory_order_relaxed);
    }
}

void MediaConnection::deliverAudio(const AudioFramePtr& frame)
{
    const Media_audio_frame_t& f = frame->frame;
    const int bytes = f.no_samples * f.no_channels * int(sizeof(int16_t));
    const QString source = getSourceName();
    std::lock_guard<std::mutex> locker(sinkMutex());
    for (auto program = m_sinks.cbegin(); program != m_sinks.cend(); ++program) {
        for (auto bus = program->cbegin(); bus != program->cend(); ++bus) {
            if (!bus.value())
                continue;
            const std::shared_ptr<AudioMixSink> sink
                = GlobalData::instance()->getAudioSink(program.key(), source, bus.key());
            if (!sink || !getUse())
                continue;
            timeval stamp {};
            sink->Write(&stamp, reinterpret_cast<char*>(f.p_data_s16), bytes);
        }
    }
    ++m_offeredAudioBlocks;
}

void MediaConnection::timedGetAudioFrame(MediaConnection* connection)
{
    pthread_setname_np(pthread_self(), "source audio");
    int64_t due = monotonicUs();
    while (connection->m_audioRun) {
        const bool listening = connection->getUse();
        // Short sleeps, so a stop is seen within about a millisecond. The
        // due time advances by whole periods: a late round catches up.
        while (monotonicUs() < due + kAudioPeriodUs) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            if (!connection->m_audioRun)
                return;
        }
        due += kAudioPeriodUs;
        const AudioFramePtr frame = connection->getAudioPtr(listening);
        connection->getPcmDb(frame);
        if (listening && frame && frame->frame.p_data_s16)
            connection->deliverAudio(frame);
    }
}
