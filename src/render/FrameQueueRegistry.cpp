#include "FrameQueueRegistry.h"

#include "media/FrameQueue.h"

std::shared_ptr<FrameQueue> FrameQueueRegistry::getFrame(const QString& pro_id)
{
    QMutexLocker lock(&queues_mutex);
    std::shared_ptr<FrameQueue>& queue = queues[pro_id];
    if (!queue)
        queue = std::make_shared<FrameQueue>();
    return queue;
}

void FrameQueueRegistry::removeItem(const QString& pro_id)
{
    std::shared_ptr<FrameQueue> removed;
    QMutexLocker lock(&queues_mutex);
    removed = queues.take(pro_id);
}
