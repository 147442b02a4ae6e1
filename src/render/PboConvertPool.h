#pragma once
// PboConvertPool: the five pixel-pack buffers one readback path of a window
// reads into, reused while the picture size stays the same.
//
// A slot (_PboImageAvailablePtr) handed out stays taken, and its buffer stays
// mapped, while anybody but the pool holds it: a VideoFrame built over the
// mapped memory keeps a share of its slot, so the pixels live as long as the
// frame. Slots come back when their last outside holder lets go and the pool
// is next asked for one.
//
// Owner: the window's converter (PboRenderer), one pool per path. Thread: the
// window's render thread, with the window's context current, for everything
// that touches a buffer; frames holding pool_slots may be dropped on any thread
// (that only drops a shared reference).
#include <QString>

#include <atomic>
#include <deque>
#include <memory>
#include <mutex>

class QOpenGLBuffer;

struct _PboImageAvailablePtr {
    std::atomic<bool> available { true };
    std::shared_ptr<QOpenGLBuffer> buffer;
    int size = 0;
    // The buffer is mapped for reading (a frame may point into it).
    bool mapped = false;
};

class PboConvertPool {
public:
    explicit PboConvertPool(const QString& identity = QString());
    // Unmaps and frees every buffer nobody else holds. A slot a frame still
    // holds is left mapped and stays with the frame (logged): unmapping it
    // would pull the pixels from under the frame.
    ~PboConvertPool();
    PboConvertPool(const PboConvertPool&) = delete;
    PboConvertPool& operator=(const PboConvertPool&) = delete;

    // A free slot with a buffer of size bytes (reallocated when its size
    // differs), marked taken; empty when all five are taken.
    std::shared_ptr<_PboImageAvailablePtr> getPboImageAvailablePtr(int size);
    // Returns the pool_slots nobody but the pool holds any more.
    void resetAvilableState();
    int getUnavailableSize();

    static constexpr int kSlots = 5;

private:
    static void releaseBuffer(_PboImageAvailablePtr& slot);

    std::recursive_mutex pool_mutex;
    std::deque<std::shared_ptr<_PboImageAvailablePtr>> pool_slots;
    QString identity;
};
