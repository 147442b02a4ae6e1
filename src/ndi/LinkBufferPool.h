#pragma once
// Recycles the large buffers of the stand-in link (pictures of several MiB)
// so that a steady stream of frames does not map and fault in fresh memory
// for every frame. A buffer goes back to its pool when its last share is
// dropped, on whatever thread that happens; the pool keeps a few free buffers
// and frees the rest, so it never grows beyond what is in flight.
//
// Owned by a shared pointer (a sender or a receiver holds it); buffers keep
// only a weak reference, so they may outlive the pool. Thread-safe.
#include "LinkBuffer.h"

#include <memory>
#include <mutex>
#include <vector>

class LinkBufferPool : public std::enable_shared_from_this<LinkBufferPool> {
public:
    static std::shared_ptr<LinkBufferPool> create(size_t maxFree = 4);

    // A buffer of at least `size` bytes, with size() set to `size`.
    LinkBufferPtr acquire(size_t size);
    size_t freeCount() const;

private:
    explicit LinkBufferPool(size_t maxFree)
        : m_maxFree(maxFree)
    {
    }
    void recycle(LinkBuffer* buffer);

    // Below this a fresh allocation is as cheap as a look-up here.
    static constexpr size_t kPoolFrom = 64 * 1024;
    const size_t m_maxFree;
    mutable std::mutex m_mutex;
    std::vector<std::unique_ptr<LinkBuffer>> m_free;
};
