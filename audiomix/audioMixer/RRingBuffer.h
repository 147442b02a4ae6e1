#pragma once
// webrtc::RRingBuffer: a byte ring between one writer (a source's audio
// thread) and one reader (the mixing thread).
//
// The storage holds capacity + 2 bytes; `write_` is where the next byte
// goes and `read_` sits just before the next byte to read, so an empty ring
// has write_ == read_ + 1. A block that does not fit empties the ring and is
// dropped: a reader that stalled starts again from fresh audio instead of
// old audio followed by a gap. One mutex makes every push and pop whole as
// seen from the other side.
#include <cstdint>
#include <mutex>
#include <vector>

namespace webrtc {

class RRingBuffer {
public:
    explicit RRingBuffer(unsigned capacity);

    // 1 when stored; 0 when it did not fit (everything stored was discarded).
    int pushData(const void* data, unsigned len);
    // 1 when len bytes were taken (copied to dst unless dst is null); 0 when
    // fewer are stored or dstSize is too small, and nothing moves.
    int popData(void* dst, unsigned dstSize, unsigned len);
    unsigned getUsedSize() const;
    unsigned getFreeSize() const;
    // Discards everything stored.
    void clear();

private:
    unsigned usedLocked() const;

    const unsigned capacity_;
    const unsigned size_;
    std::vector<uint8_t> storage_;
    uint32_t write_ = 1;
    uint32_t read_ = 0;
    mutable std::mutex mutex_;
};

} // namespace webrtc
