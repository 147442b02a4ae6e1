#include "MediaContext.h"

#include "base/ThreadCheck.h"

#include <QDebug>

#include <cmath>

namespace {

// A stream's capability record is asked for again after this long.
constexpr int64_t kCapabilityRefreshMs = 5000;

} // namespace

using MediaContext = MediaConnection::MediaContext;

MediaContext::MediaContext(MediaConnection& owner, BandWidth_t bandwidth)
    : m_owner(owner)
    , m_bandwidth(bandwidth)
{
}

MediaContext::~MediaContext()
{
    qDebug() << "~MediaContext start.";
    Unuse();
    qDebug() << "~MediaContext done.";
}

bool MediaContext::Use()
{
    QMutexLocker locker(&m_lock);
    m_inUse = true;
    if (!m_url.isEmpty() && !m_mediaInstance) {
        qDebug() << "createConnection " << m_name << m_url << int(m_bandwidth);
        m_mediaInstance = m_owner.createConnection(m_bandwidth, m_name, m_url);
        m_lastCapabilityRefresh = 0;
        m_lastVideoTime = m_lastAudioTime = m_owner.steadyMs();
        m_tallyPending = true;
    }
    return true;
}

void MediaContext::Unuse()
{
    QMutexLocker locker(&m_lock);
    if (!m_inUse)
        return;
    m_inUse = false;
    qDebug() << "#1 mediaInstance del start." << m_name << m_url;
    m_mediaInstance.reset();
    qDebug() << "#2 mediaInstance del done.";
    m_lastVideoFrame.reset();
    m_lastAudioFrame.reset();
    m_capabilities.reset();
    qDebug() << "Unuse " << m_name;
}

bool MediaContext::Inuse()
{
    QMutexLocker locker(&m_lock);
    return m_inUse;
}

bool MediaContext::Valid()
{
    QMutexLocker locker(&m_lock);
    return m_inUse && m_mediaInstance;
}

void MediaContext::dropReceiverLocked()
{
    if (m_mediaInstance) {
        qDebug() << "#1 lastVideoFrame del start.";
        m_lastVideoFrame.reset();
        qDebug() << "#1 lastVideoFrame del done.";
        m_lastAudioFrame.reset();
        qDebug() << "#1 mediaInstance del start.";
        m_mediaInstance.reset();
        qDebug() << "#2 mediaInstance del done.";
    } else {
        qDebug() << "mediaInstance is null.";
    }
    m_capabilities.reset();
}

bool MediaContext::ChangeSource(const QString& name, const QString& url)
{
    QMutexLocker locker(&m_lock);
    if (name == m_name && url == m_url)
        return true;
    qDebug() << "ChangeSource start. new:" << name << url << int(m_bandwidth) << " old:" << m_name << m_url
             << onMainThread();
    dropReceiverLocked();
    m_name = name;
    m_url = url;
    if (m_inUse)
        Use();
    qDebug() << "ChangeSource done:" << m_name << m_url << int(m_bandwidth) << " inUsing " << m_inUse;
    return true;
}

void MediaContext::sendTallyLocked()
{
    if (m_tallyPending) {
        m_owner.setConnectionTally(m_mediaInstance, m_pvw, m_pgm);
        m_tallyPending = false;
    }
}

VideoFramePtr MediaContext::RetrivalVideoFrame(bool stickOnly)
{
    QMutexLocker locker(&m_lock);
    if (!m_inUse || !m_mediaInstance) {
        m_lastVideoFrame.reset();
        return nullptr;
    }
    const int64_t now = m_owner.steadyMs();
    if (!m_capabilities || now - m_lastCapabilityRefresh >= kCapabilityRefreshMs) {
        const bool pvw = m_capabilities && m_capabilities->pvw;
        const bool pgm = m_capabilities && m_capabilities->pgm;
        m_capabilities = m_owner.getConnectionCapabilities(m_mediaInstance, pvw, pgm);
        m_lastCapabilityRefresh = now;
    }
    VideoFramePtr frame = m_owner.retrivalVideoFrame(m_mediaInstance, stickOnly);
    if (frame && m_bandwidth == BandWidthHigh) {
        // A single field of an interlaced source: the pictures come at the
        // field rate, twice the frame rate the source states. Adjusted
        // before the frame is published, so every reader sees one value.
        Media_video_frame_t& f = frame->frame;
        if (f.frame_format_type >= NDIlib_frame_format_type_field_0 && f.yres > 0
            && std::abs(double(f.xres) / f.yres - f.picture_aspect_ratio) > 0.1)
            f.frame_rate_N *= 2;
    }
    m_lastVideoFrame = frame;
    if (frame && frame->frame.p_data) {
        sendTallyLocked();
        m_lastVideoTime = now;
    } else if (frame && stickOnly) {
        m_lastVideoTime = now;
    }
    return m_lastVideoFrame;
}

AudioFramePtr MediaContext::RetrivalAudioFrame(bool stickOnly, int samples, int level)
{
    QMutexLocker locker(&m_lock);
    if (!m_inUse || !m_mediaInstance) {
        m_lastAudioFrame.reset();
        return nullptr;
    }
    const int64_t now = m_owner.steadyMs();
    AudioFramePtr frame = m_owner.retrivalAudioFrame(m_mediaInstance, stickOnly, samples, level);
    m_lastAudioFrame = frame;
    if (frame && frame->frame.p_data_s16) {
        sendTallyLocked();
        m_lastAudioTime = now;
    } else if (frame && stickOnly) {
        m_lastAudioTime = now;
    }
    return m_lastAudioFrame;
}

VideoFramePtr MediaContext::GetLastVideoFrame()
{
    return locked(m_lastVideoFrame);
}

AudioFramePtr MediaContext::GetLastAudioFrame()
{
    return locked(m_lastAudioFrame);
}

std::shared_ptr<Media_capabilities_t> MediaContext::GetCapabilities()
{
    return locked(m_capabilities);
}

void MediaContext::SetTally(bool pvw, bool pgm)
{
    QMutexLocker locker(&m_lock);
    m_pvw = pvw;
    m_pgm = pgm;
    if (m_mediaInstance)
        m_owner.setConnectionTally(m_mediaInstance, m_pvw, m_pgm);
}

void MediaContext::SetPvw(bool on)
{
    QMutexLocker locker(&m_lock);
    SetTally(on, m_pgm);
}

void MediaContext::SetPgm(bool on)
{
    QMutexLocker locker(&m_lock);
    SetTally(m_pvw, on);
}

int MediaContext::getTallyValue()
{
    QMutexLocker locker(&m_lock);
    return (m_pvw ? 1 : 0) | (m_pgm ? 2 : 0);
}

bool MediaContext::withInstance(const std::function<bool(const MediaInstancePtr&)>& op)
{
    QMutexLocker locker(&m_lock);
    const MediaInstancePtr instance = m_mediaInstance;
    return op(instance);
}

QString MediaContext::name()
{
    return locked(m_name);
}

QString MediaContext::url()
{
    return locked(m_url);
}

int64_t MediaContext::lastVideoTime()
{
    return locked(m_lastVideoTime);
}
