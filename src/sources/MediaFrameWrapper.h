#pragma once
// A received frame together with the receiver that lent it, shared between
// the connection's capture thread, the video items and the audio loop. The
// last share returns the frame:
// - a picture with its receiver and pixels goes back through
//   FreeFrame(video); a picture without receiver owns its pixels (an array)
//   and frees them; a picture without pixels needs nothing;
// - sound with its receiver and float samples goes back through
//   FreeFrame(audio); sound without receiver owns its float array; the 16-bit
//   array is always the wrapper's own.
// The receiver share is dropped last, so a receiver outlives every frame it lent.
#include "MediaInstance.h"

#include <memory>

inline void releaseMediaFrame(const MediaInstancePtr& instance, Media_video_frame_t& frame)
{
    if (instance) {
        if (frame.p_data)
            instance->FreeFrame(&frame);
    } else {
        delete[] frame.p_data;
    }
    frame.p_data = nullptr;
}

inline void releaseMediaFrame(const MediaInstancePtr& instance, Media_audio_frame_t& frame)
{
    if (instance) {
        if (frame.p_data)
            instance->FreeFrame(&frame);
    } else {
        delete[] frame.p_data;
    }
    delete[] frame.p_data_s16;
    frame.p_data = nullptr;
    frame.p_data_s16 = nullptr;
}

template <typename Frame, typename Instance> struct MediaFrameWrapper {
    MediaFrameWrapper(Instance lender, const Frame& record)
        : instance(std::move(lender))
        , frame(record)
    {
    }
    ~MediaFrameWrapper() { releaseMediaFrame(instance, frame); }
    MediaFrameWrapper(const MediaFrameWrapper&) = delete;
    MediaFrameWrapper& operator=(const MediaFrameWrapper&) = delete;

    Instance instance; // null for frames the program builds itself
    Frame frame;
};

// Sound travels in the same wrapper; the name says which kind a pointer holds.
template <typename Frame, typename Instance> using AudioFrameWrapper = MediaFrameWrapper<Frame, Instance>;

using VideoFramePtr = std::shared_ptr<MediaFrameWrapper<Media_video_frame_t, MediaInstancePtr>>;
using AudioFramePtr = std::shared_ptr<AudioFrameWrapper<Media_audio_frame_t, MediaInstancePtr>>;
