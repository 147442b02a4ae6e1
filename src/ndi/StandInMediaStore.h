#pragma once
// What a stand-in receiver keeps for its frame synchronisers: the newest
// picture (a whole Video message, record and pixels, as it arrived) and the
// queued sound. The receiver's loop thread writes; synchronisers read from
// any thread. Shared by the receiver and its synchronisers, so a synchroniser
// stays safe to call even if its receiver went first.
#include "LinkBuffer.h"
#include "StandInAudioQueue.h"

#include <mutex>

class StandInMediaStore {
public:
    void setPicture(LinkBufferPtr message);
    LinkBufferPtr picture() const;
    void pushAudio(int sampleRate, int channels, const float* interleaved, int frames);
    bool captureAudio(int sampleRate, int channels, int samples, float* planar);
    // A different source: nothing of the previous one may show.
    void clear();

private:
    mutable std::mutex m_mutex;
    LinkBufferPtr m_picture;
    StandInAudioQueue m_audio;
};
