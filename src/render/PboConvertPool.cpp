#include "PboConvertPool.h"

#include <QDebug>
#include <QOpenGLBuffer>

PboConvertPool::PboConvertPool(const QString& identity_)
    : identity(identity_)
{
    for (int i = 0; i < kSlots; ++i)
        pool_slots.push_back(std::make_shared<_PboImageAvailablePtr>());
}

PboConvertPool::~PboConvertPool()
{
    std::lock_guard<std::recursive_mutex> lock(pool_mutex);
    int leaked = 0;
    for (auto& slot : pool_slots) {
        if (slot.use_count() > 1 && slot->mapped) {
            // A frame still points into this buffer: leave it mapped; the
            // frame's share of the slot keeps the buffer object, whose GL
            // name Qt frees once no frame holds it (or with the context).
            qWarning() << "PboConvertPool: a frame still holds a slot at teardown; its buffer is left mapped"
                       << identity;
            ++leaked;
            continue;
        }
        releaseBuffer(*slot);
        slot->available = true;
    }
    qDebug() << "PboConvertPool::~PboConvertPool()" << identity << "left mapped:" << leaked;
}

void PboConvertPool::releaseBuffer(_PboImageAvailablePtr& slot)
{
    if (!slot.buffer)
        return;
    if (slot.mapped) {
        slot.buffer->bind();
        slot.buffer->unmap();
        slot.buffer->release();
        slot.mapped = false;
    }
    slot.buffer->destroy();
    slot.buffer.reset();
    slot.size = 0;
}

void PboConvertPool::resetAvilableState()
{
    std::lock_guard<std::recursive_mutex> lock(pool_mutex);
    for (auto& slot : pool_slots) {
        if (!slot->buffer || slot->available || slot.use_count() > 1)
            continue;
        if (slot->mapped) {
            slot->buffer->bind();
            slot->buffer->unmap();
            slot->buffer->release();
            slot->mapped = false;
        }
        slot->available = true;
    }
}

std::shared_ptr<_PboImageAvailablePtr> PboConvertPool::getPboImageAvailablePtr(int size)
{
    std::lock_guard<std::recursive_mutex> lock(pool_mutex);
    resetAvilableState();
    for (auto& slot : pool_slots) {
        if (!slot->available || slot.use_count() > 1)
            continue;
        if (slot->buffer && slot->size == size) {
            slot->available = false;
            return slot;
        }
        if (slot->buffer) {
            qDebug() << "Pbo target size change, forced destruction. old:" << slot->size << " new:" << size;
            releaseBuffer(*slot);
        }
        auto buffer = std::make_shared<QOpenGLBuffer>(QOpenGLBuffer::PixelPackBuffer);
        if (!buffer->create()) {
            qWarning() << "PboConvertPool: cannot create a pixel buffer" << identity;
            return {};
        }
        buffer->bind();
        buffer->setUsagePattern(QOpenGLBuffer::StreamRead);
        buffer->allocate(size);
        buffer->release();
        qDebug() << "alloc pbo size:" << size << " " << identity;
        slot->buffer = std::move(buffer);
        slot->size = size;
        slot->available = false;
        return slot;
    }
    return {};
}

int PboConvertPool::getUnavailableSize()
{
    std::lock_guard<std::recursive_mutex> lock(pool_mutex);
    int taken = 0;
    for (const auto& slot : pool_slots) {
        if (!slot->available)
            ++taken;
    }
    return taken;
}
