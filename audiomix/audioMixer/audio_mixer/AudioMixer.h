#pragma once
// webrtc::AudioMixer: mixes 10 ms frames of a set of sources into one.
// Reference counted; made through AudioMixerImpl::Create.
#include "audioMixer/rtc_base/RefCount.h"

#include <cstddef>

namespace webrtc {

class AudioFrame;

class AudioMixer : public rtc::RefCountInterface {
public:
    // One input of the mixer. Its owner keeps it alive while it is added.
    class Source {
    public:
        enum class AudioFrameInfo {
            kNormal = 0, // frame filled
            kMuted = 1, // frame filled but silent: mixed as zeros
            kError = 2, // no frame this round: left out
        };

        // Fills `frame` with the next 10 ms; the requested rate may be ignored.
        virtual AudioFrameInfo PullAudioFrame(int sampleRateHz, AudioFrame* frame) = 0;
        virtual int Ssrc() const = 0;
        virtual int PreferredSampleRate() const = 0;
        virtual ~Source() = default;
    };

    // A source may be added once; adding it again is a programming error.
    virtual bool AddSource(Source* source) = 0;
    // Removing a source that is not there is a programming error.
    virtual void RemoveSource(Source* source) = 0;
    // Mixes one round into `out` (channel count 1 or 2); true when at least
    // one source delivered a frame.
    virtual bool Mix(size_t numberOfChannels, AudioFrame* out) = 0;

protected:
    ~AudioMixer() override = default;
};

} // namespace webrtc
