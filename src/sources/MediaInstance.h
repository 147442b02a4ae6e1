#pragma once
// An open receiver of a source, as the source connections see it, and the
// frame records it fills. The concrete receiver (one per open stream of a
// connection) takes back the frames it lent through FreeFrame; see
// MediaFrameWrapper for when that happens.
#include "NdiWrapper.h"

#include <cstdint>
#include <memory>

// A received picture, as the receiver fills it.
using Media_video_frame_t = NDIlib_video_frame_v2_t;

// A received block of sound: interleaved float samples (p_data, with the
// record's fields) and the same samples as interleaved 16-bit integers.
struct Media_audio_frame_t : NDIlib_audio_frame_v2_t {
    int16_t* p_data_s16 = nullptr;
};

class MediaInstance_t {
public:
    virtual ~MediaInstance_t() = default;
    virtual void FreeFrame(Media_video_frame_t* frame) = 0;
    virtual void FreeFrame(Media_audio_frame_t* frame) = 0;
};

using MediaInstancePtr = std::shared_ptr<MediaInstance_t>;
