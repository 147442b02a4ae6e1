#include "RenderNodeInput.h"

#include "media/VideoFrame.h"

#include <utility>

// Must hold m_mutex.
void RenderNodeInput::setStates(int current, int next, int rendered)
{
    if (current != m_frames.currentState || next != m_frames.nextState || rendered != m_frames.renderedState)
        m_changed = true;
    m_frames.currentState = current;
    m_frames.nextState = next;
    m_frames.renderedState = rendered;
}

void RenderNodeInput::setVideo(std::shared_ptr<VideoFrame> frame)
{
    Frames dropped;
    std::lock_guard<std::mutex> lock(m_mutex);
    // A bus tile hands in the holder's picture on every pass: the same one
    // again changes nothing.
    if (m_lastRendered.lock() != frame)
        m_changed = true;
    m_lastRendered = frame;
    m_lastCurrent.reset();
    m_lastNext.reset();
    setStates(kCleared, kCleared, frame ? kSet : kCleared);
    dropped.current = std::move(m_frames.current);
    dropped.next = std::move(m_frames.next);
    dropped.rendered = std::exchange(m_frames.rendered, std::move(frame));
}

bool RenderNodeInput::olderThanWaiting(const VideoFramePtr& waiting, const VideoFramePtr& incoming)
{
    if (!waiting || !incoming)
        return false;
    const int64_t waitingCode = waiting->frame.timecode;
    const int64_t incomingCode = incoming->frame.timecode;
    if (waitingCode != incomingCode)
        return waitingCode > incomingCode;
    return int64_t(waiting->frame.timestamp) > int64_t(incoming->frame.timestamp);
}

void RenderNodeInput::setVideo(VideoFramePtr frame)
{
    VideoFramePtr replaced;
    std::lock_guard<std::mutex> lock(m_mutex);
    if (olderThanWaiting(m_frames.current, frame))
        return;
    if (m_lastCurrent.lock() != frame)
        m_changed = true;
    m_lastCurrent = frame;
    setStates(kSet, m_frames.nextState, m_frames.renderedState);
    replaced = std::exchange(m_frames.current, std::move(frame));
}

void RenderNodeInput::setNextVideo(VideoFramePtr frame)
{
    VideoFramePtr replaced;
    std::lock_guard<std::mutex> lock(m_mutex);
    if (olderThanWaiting(m_frames.next, frame))
        return;
    if (m_lastNext.lock() != frame)
        m_changed = true;
    m_lastNext = frame;
    setStates(m_frames.currentState, kSet, m_frames.renderedState);
    replaced = std::exchange(m_frames.next, std::move(frame));
}

void RenderNodeInput::clearPicture()
{
    setVideo(std::shared_ptr<VideoFrame>());
}

void RenderNodeInput::setAlpha(float alpha)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_look.alpha != alpha)
        m_changed = true;
    m_look.alpha = alpha;
}

void RenderNodeInput::setTransitionEffect(int type)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_look.transitionType != type)
        m_changed = true;
    m_look.transitionType = type;
}

void RenderNodeInput::setWin_type(const QString& type)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_winType = type;
}

void RenderNodeInput::setAngle(int angle)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_look.angle != angle)
        m_changed = true;
    m_look.angle = angle;
}

void RenderNodeInput::setSourceName(const QString& name)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_sourceName = name;
}

void RenderNodeInput::setOption(const RenderOptions& options)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_look.options != options)
        m_changed = true;
    m_look.options = options;
}

void RenderNodeInput::updateCoordinateSystem(
    double winW, double winH, double offset, double itemX, double itemY, double width, double height)
{
    if (winW <= 0 || winH <= 0)
        return;
    std::lock_guard<std::mutex> lock(m_mutex);
    m_coordinates[0] = offset;
    m_coordinates[1] = (itemX + width / 2 - winW / 2) / (winW / 2);
    m_coordinates[2] = (winH / 2 - (itemY + height / 2 + offset)) / (winH / 2);
    m_coordinates[3] = width / winW;
    m_coordinates[4] = height / winH;
}

RenderNodeInput::Frames RenderNodeInput::takeFrames()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    Frames taken;
    taken.current = std::move(m_frames.current);
    taken.next = std::move(m_frames.next);
    taken.rendered = std::move(m_frames.rendered);
    m_frames.current.reset();
    m_frames.next.reset();
    m_frames.rendered.reset();
    taken.currentState = m_frames.currentState;
    taken.nextState = m_frames.nextState;
    taken.renderedState = m_frames.renderedState;
    return taken;
}

RenderNodeInput::Look RenderNodeInput::look() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_look;
}

QString RenderNodeInput::winType() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_winType;
}

QString RenderNodeInput::sourceName() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_sourceName;
}

void RenderNodeInput::setPassCallback(std::function<void()> callback)
{
    std::lock_guard<std::mutex> lock(m_passMutex);
    m_callback = std::move(callback);
}

void RenderNodeInput::enablePass()
{
    m_callbackEnabled = true;
}

// Disabled first, then waited for: a pass that starts after the flag is down
// sees it and skips the callback, one that started before has the pass lock.
void RenderNodeInput::disablePass()
{
    m_callbackEnabled = false;
    std::lock_guard<std::mutex> wait(m_passMutex);
}

void RenderNodeInput::clearPassCallback()
{
    m_callbackEnabled = false;
    std::function<void()> cleared;
    std::lock_guard<std::mutex> lock(m_passMutex);
    cleared.swap(m_callback);
}

void RenderNodeInput::runPass()
{
    std::lock_guard<std::mutex> lock(m_passMutex);
    if (!m_callback || !m_callbackEnabled)
        return;
    m_inPass = true;
    m_callback();
    m_inPass = false;
}

void RenderNodeInput::runPassAhead()
{
    runPass();
    m_ranAhead = true;
}

void RenderNodeInput::dropPassAhead()
{
    m_ranAhead = false;
}

void RenderNodeInput::runPassOnce()
{
    if (!m_ranAhead.exchange(false))
        runPass();
}

bool RenderNodeInput::takeChanged()
{
    return m_changed.exchange(false);
}
