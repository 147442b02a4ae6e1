#include "RRingBuffer.h"

#include <algorithm>
#include <cstring>

namespace webrtc {

RRingBuffer::RRingBuffer(unsigned capacity)
    : capacity_(capacity)
    , size_(capacity + 2)
    , storage_(size_)
{
}

unsigned RRingBuffer::usedLocked() const
{
    if (write_ > read_)
        return write_ - read_ - 1;
    if (write_ == read_)
        return 0;
    return size_ + write_ - read_ - 1;
}

int RRingBuffer::pushData(const void* data, unsigned len)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (capacity_ - usedLocked() < len) {
        write_ = 1;
        read_ = 0;
        return 0;
    }
    const auto* bytes = static_cast<const uint8_t*>(data);
    const unsigned first = std::min(len, size_ - write_);
    std::memcpy(storage_.data() + write_, bytes, first);
    std::memcpy(storage_.data(), bytes + first, len - first);
    write_ = (write_ + len) % size_;
    return 1;
}

int RRingBuffer::popData(void* dst, unsigned dstSize, unsigned len)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (usedLocked() < len || (dst && dstSize < len))
        return 0;
    const unsigned start = (read_ + 1) % size_;
    if (dst) {
        auto* bytes = static_cast<uint8_t*>(dst);
        const unsigned first = std::min(len, size_ - start);
        std::memcpy(bytes, storage_.data() + start, first);
        std::memcpy(bytes + first, storage_.data(), len - first);
    }
    read_ = (read_ + len) % size_;
    return 1;
}

unsigned RRingBuffer::getUsedSize() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return usedLocked();
}

unsigned RRingBuffer::getFreeSize() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return capacity_ - usedLocked();
}

void RRingBuffer::clear()
{
    std::lock_guard<std::mutex> lock(mutex_);
    write_ = 1;
    read_ = 0;
}

} // namespace webrtc
