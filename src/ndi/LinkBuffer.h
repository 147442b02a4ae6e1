#pragma once
// A byte buffer that carries one message payload of the stand-in link: a
// picture with its header, a block of sound, a metadata text. Shared (by
// shared pointer) between the sender's connections and between a receiver and
// the frames it lent, and never changed once shared. The memory is left
// uninitialised: every byte is written before the buffer is shared.
#include <cstddef>
#include <cstdint>
#include <memory>

class LinkBuffer {
public:
    explicit LinkBuffer(size_t capacity)
        : m_data(new uint8_t[capacity ? capacity : 1])
        , m_capacity(capacity)
    {
    }
    LinkBuffer(const LinkBuffer&) = delete;
    LinkBuffer& operator=(const LinkBuffer&) = delete;

    uint8_t* data() { return m_data.get(); }
    const uint8_t* data() const { return m_data.get(); }
    size_t size() const { return m_size; }
    size_t capacity() const { return m_capacity; }
    // Only while the buffer is not shared yet; never beyond the capacity.
    void setSize(size_t size) { m_size = size <= m_capacity ? size : m_capacity; }

private:
    std::unique_ptr<uint8_t[]> m_data;
    size_t m_capacity;
    size_t m_size = 0;
};

using LinkBufferPtr = std::shared_ptr<LinkBuffer>;
