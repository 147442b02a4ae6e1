#pragma once
// webrtc::AudioMixerImpl: each round pulls a 10 ms frame from every source,
// keeps at most three (voice-active first, then the loudest), fades a newly
// picked source in over its first frame and sums the picked frames.
//
// Owner: reference counted (Create hands out the first reference). Sources
// are added and removed on the owner's thread while Mix runs on the mixing
// thread; the engine lock serialises them. Mix itself must only ever run on
// one thread at a time (checked).
#include "AudioMixer.h"
#include "FrameCombiner.h"
#include "OutputRateCalculator.h"
#include "audioMixer/audio/AudioFrame.h"
#include "audioMixer/rtc_base/CriticalSection.h"
#include "audioMixer/rtc_base/RaceChecker.h"

#include <memory>
#include <vector>

namespace webrtc {

class AudioMixerImpl : public AudioMixer {
public:
    static constexpr int kMaximumAmountOfMixedAudioSources = 3;

    // The state the mixer keeps per source across rounds.
    struct SourceStatus {
        explicit SourceStatus(Source* s)
            : audio_source(s)
        {
        }
        Source* audio_source;
        bool is_mixed = false;
        float gain = 0.0f;
        AudioFrame audio_frame;
    };

    static rtc::scoped_refptr<AudioMixerImpl> Create(std::unique_ptr<OutputRateCalculator> outputRateCalculator);

    bool AddSource(Source* audioSource) override;
    void RemoveSource(Source* audioSource) override;
    bool Mix(size_t numberOfChannels, AudioFrame* audioFrameForMixing) override;

    // The output rate of the last round.
    int OutputFrequency() const;
    size_t SourceCount() const;

protected:
    explicit AudioMixerImpl(std::unique_ptr<OutputRateCalculator> outputRateCalculator);
    ~AudioMixerImpl() override;

private:
    using SourceStatusList = std::vector<std::unique_ptr<SourceStatus>>;

    void CalculateOutputFrequency();
    // Pulls, ranks, picks and ramps; returns the frames to combine.
    std::vector<AudioFrame*> GetAudioFromSources();
    static SourceStatusList::const_iterator FindSourceInList(const Source* source, const SourceStatusList* list);

    rtc::CriticalSection crit_;
    rtc::RaceChecker race_checker_;
    std::unique_ptr<OutputRateCalculator> output_rate_calculator_;
    int output_frequency_ = 0;
    size_t sample_size_ = 0;
    SourceStatusList audio_source_list_;
    FrameCombiner frame_combiner_;
};

} // namespace webrtc
