#pragma once
// One source's audio input into one program mixer: the engine's byte ring
// of interleaved 16-bit PCM, filled by the source connection's audio thread
// (the only writer), and the engine source that the mixing thread reads it
// through (the only reader).
//
// Shared through std::shared_ptr: the source-content registry holds it under
// (program, source, mixer), the mixer keeps it while the source is mixed, and
// every writer keeps a reference while it writes, so a sink taken out of its
// mixer lives until the last writer lets go. Thread-safe.
#include <sys/time.h>

#include <atomic>
#include <memory>
#include <mutex>

namespace webrtc {
class AudioMixSource;
class RRingBuffer;
}

class AudioMixSink {
public:
    explicit AudioMixSink(int id);
    virtual ~AudioMixSink();

    int id() const { return m_id; }

    // Makes an empty ring for the given format, large enough for 1.6 s at
    // 10 ms frames (frameMs x 160 frames), and the engine source that reads
    // it; earlier ones are released.
    void SetMixSource(int sampleRate, int channels, int bitsPerSample, int frameMs);
    int ringCapacity() const;
    std::shared_ptr<webrtc::RRingBuffer> ring() const;
    std::shared_ptr<webrtc::AudioMixSource> mixSource() const;

    // Both return 1.
    int Open();
    int Close();

    // Writer side. -1 while the sink is not open; otherwise len, whether or
    // not the bytes were kept: they are dropped while the sink is detached
    // from its mixer or has no ring, and a block that does not fit in the
    // ring empties it (a stalled reader then starts again from fresh audio).
    int Write(timeval* timestamp, char* data, int len);
    // Bytes waiting in the ring.
    int Buffered() const;

    // A new sink is detached; the mixer attaches it once its engine reads it.
    void setDetached(bool detached);
    bool isDetached() const;

private:
    const int m_id;
    mutable std::mutex m_mutex; // guards the two pointers and the capacity
    std::shared_ptr<webrtc::RRingBuffer> m_ring;
    std::shared_ptr<webrtc::AudioMixSource> m_source;
    int m_capacity = 0;
    std::atomic<bool> m_open { false };
    std::atomic<bool> m_detached { true };
};
