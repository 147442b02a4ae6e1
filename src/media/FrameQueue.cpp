#include "FrameQueue.h"

#include "VideoFrame.h"

#include <utility>

void FrameQueue::addNewFrame(std::shared_ptr<VideoFrame> newFrame)
{
    std::shared_ptr<VideoFrame> replaced;
    {
        QMutexLocker lock(&frame_mutex);
        if (!requested)
            return;
        replaced = std::exchange(frame, std::move(newFrame));
    }
    // The older frame (and its slot) goes outside the lock when nobody else holds it.
}

std::shared_ptr<VideoFrame> FrameQueue::getFrameData()
{
    QMutexLocker lock(&frame_mutex);
    requested = true;
    return frame;
}

bool FrameQueue::isRequested() const
{
    QMutexLocker lock(&frame_mutex);
    return requested;
}

bool FrameQueue::holds(const std::shared_ptr<VideoFrame>& candidate) const
{
    QMutexLocker lock(&frame_mutex);
    return candidate && frame == candidate;
}

void FrameQueue::destroy()
{
    std::shared_ptr<VideoFrame> dropped;
    QMutexLocker lock(&frame_mutex);
    dropped.swap(frame);
}

bool FrameQueue::getTakeState() const
{
    QMutexLocker lock(&take_mutex);
    return takeState;
}

void FrameQueue::setTakeState(bool state)
{
    QMutexLocker lock(&take_mutex);
    takeState = state;
}

bool FrameQueue::getIsTaking() const
{
    QMutexLocker lock(&frame_mutex);
    return isTaking;
}

void FrameQueue::setIsTaking(bool taking)
{
    QMutexLocker lock(&frame_mutex);
    isTaking = taking;
}
