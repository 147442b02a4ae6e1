#include "FrameQueue.h"

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
