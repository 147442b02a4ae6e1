#include "LinkBufferPool.h"

std::shared_ptr<LinkBufferPool> LinkBufferPool::create(size_t maxFree)
{
    return std::shared_ptr<LinkBufferPool>(new LinkBufferPool(maxFree));
}

LinkBufferPtr LinkBufferPool::acquire(size_t size)
{
    std::unique_ptr<LinkBuffer> buffer;
    if (size >= kPoolFrom) {
        std::lock_guard<std::mutex> lock(m_mutex);
        // A buffer up to twice the size serves; a much larger one would pin
        // memory a smaller stream no longer needs.
        for (auto it = m_free.begin(); it != m_free.end(); ++it) {
            if ((*it)->capacity() >= size && (*it)->capacity() / 2 <= size) {
                buffer = std::move(*it);
                m_free.erase(it);
                break;
            }
        }
    }
    if (!buffer)
        buffer = std::make_unique<LinkBuffer>(size);
    buffer->setSize(size);
    if (size < kPoolFrom)
        return LinkBufferPtr(buffer.release());
    std::weak_ptr<LinkBufferPool> pool = weak_from_this();
    return LinkBufferPtr(buffer.release(), [pool](LinkBuffer* b) {
        if (auto p = pool.lock())
            p->recycle(b);
        else
            delete b;
    });
}

size_t LinkBufferPool::freeCount() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_free.size();
}

void LinkBufferPool::recycle(LinkBuffer* buffer)
{
    std::unique_ptr<LinkBuffer> owned(buffer);
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_free.size() < m_maxFree)
        m_free.push_back(std::move(owned));
}
