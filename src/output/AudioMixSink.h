#pragma once
// One source's audio input into one program mixer: a bounded ring of
// interleaved 16-bit PCM between the source connection's audio thread (the
// only writer) and the mixer's thread (the only reader).
//
// Shared through std::shared_ptr: the source-content registry holds it under
// (program, source, mixer) and every writer keeps a reference while it
// writes, so a sink taken out of its mixer lives until the last writer lets go.
// Thread-safe: writer and reader may run at the same time.
#include <sys/time.h>

#include <mutex>
#include <vector>

class AudioMixSink {
public:
    explicit AudioMixSink(int id);
    virtual ~AudioMixSink();

    int id() const { return m_id; }

    // Makes an empty ring for the given format, large enough for 1.6 s at
    // 10 ms frames (frameMs x 160 frames); the previous ring is dropped.
    void SetMixSource(int sampleRate, int channels, int bitsPerSample, int frameMs);
    int ringCapacity() const;

    // Both return 1.
    int Open();
    int Close();

    // Writer side. -1 while the sink is not open; otherwise len, whether or
    // not the bytes were kept: they are dropped while the sink is detached
    // from its mixer or has no ring, and a block that does not fit in the
    // ring empties it (a stalled reader then starts again from fresh audio).
    int Write(timeval* timestamp, char* data, int len);

    // Reader side: copies exactly len bytes out when that many are buffered.
    bool Read(char* dest, int len);
    int Buffered() const;

    // A new sink is detached; the mixer attaches it once its engine reads it.
    void setDetached(bool detached);
    bool isDetached() const;

private:
    const int m_id;
    mutable std::mutex m_mutex;
    std::vector<char> m_ring;
    size_t m_head = 0; // index of the oldest byte
    size_t m_size = 0; // bytes buffered
    bool m_open = false;
    bool m_detached = true;
};
