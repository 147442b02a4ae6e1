#pragma once
// A stand-in frame synchroniser: hands out the newest picture and resampled
// sound of its receiver's media store at once, never waiting for the source.
// It remembers what it lent until the caller frees it; callers may capture
// and free on any thread. Owned by the caller through its handle.
#include "NdiWrapper.h"
#include "StandInMediaStore.h"

#include <map>
#include <memory>
#include <mutex>

class StandInFrameSync {
public:
    explicit StandInFrameSync(std::shared_ptr<StandInMediaStore> store)
        : m_store(std::move(store))
    {
    }

    void captureVideo(NDIlib_video_frame_v2_t* frame);
    void freeVideo(NDIlib_video_frame_v2_t* frame);
    void captureAudio(NDIlib_audio_frame_v2_t* frame, int sampleRate, int channels, int samples);
    void freeAudio(NDIlib_audio_frame_v2_t* frame);
    size_t lentCount() const;

private:
    std::shared_ptr<StandInMediaStore> m_store;
    mutable std::mutex m_mutex;
    // The same picture may be lent several times while it is the newest.
    std::multimap<const uint8_t*, LinkBufferPtr> m_lentVideo;
    std::map<const float*, std::unique_ptr<float[]>> m_lentAudio;
};
