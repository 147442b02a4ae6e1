#include "AudioMixerImpl.h"

#include "AudioFrameManipulator.h"
#include "audioMixer/rtc_base/Checks.h"

#include <algorithm>

namespace webrtc {

namespace {

struct SourceFrame {
    AudioMixerImpl::SourceStatus* status;
    AudioFrame* frame;
    bool muted;
    uint64_t energy;
};

// Unmuted before muted, voice-active before the rest, then the loudest.
bool ShouldMixBefore(const SourceFrame& a, const SourceFrame& b)
{
    if (a.muted != b.muted)
        return b.muted;
    const bool aActive = a.frame->vad_activity_ == AudioFrame::kVadActive;
    const bool bActive = b.frame->vad_activity_ == AudioFrame::kVadActive;
    if (aActive != bActive)
        return aActive;
    return a.energy > b.energy;
}

} // namespace

rtc::scoped_refptr<AudioMixerImpl> AudioMixerImpl::Create(std::unique_ptr<OutputRateCalculator> outputRateCalculator)
{
    return rtc::scoped_refptr<AudioMixerImpl>(
        new rtc::RefCountedObject<AudioMixerImpl>(std::move(outputRateCalculator)));
}

AudioMixerImpl::AudioMixerImpl(std::unique_ptr<OutputRateCalculator> outputRateCalculator)
    : output_rate_calculator_(std::move(outputRateCalculator))
{
}

AudioMixerImpl::~AudioMixerImpl() = default;

AudioMixerImpl::SourceStatusList::const_iterator AudioMixerImpl::FindSourceInList(
    const Source* source, const SourceStatusList* list)
{
    return std::find_if(list->begin(), list->end(),
        [source](const std::unique_ptr<SourceStatus>& status) { return status->audio_source == source; });
}

bool AudioMixerImpl::AddSource(Source* audio_source)
{
    RTC_CHECK_MSG(audio_source, "audio_source");
    rtc::CritScope lock(&crit_);
    RTC_CHECK_MSG(FindSourceInList(audio_source, &audio_source_list_) == audio_source_list_.end(),
        "Source already added to mixer");
    audio_source_list_.push_back(std::make_unique<SourceStatus>(audio_source));
    return true;
}

void AudioMixerImpl::RemoveSource(Source* audio_source)
{
    RTC_CHECK_MSG(audio_source, "audio_source");
    rtc::CritScope lock(&crit_);
    const auto iter = FindSourceInList(audio_source, &audio_source_list_);
    RTC_CHECK_MSG(iter != audio_source_list_.end(), "Source not present in mixer");
    audio_source_list_.erase(iter);
}

int AudioMixerImpl::OutputFrequency() const
{
    rtc::CritScope lock(&crit_);
    return output_frequency_;
}

size_t AudioMixerImpl::SourceCount() const
{
    rtc::CritScope lock(&crit_);
    return audio_source_list_.size();
}

void AudioMixerImpl::CalculateOutputFrequency()
{
    rtc::CritScope lock(&crit_);
    std::vector<int> preferredRates;
    preferredRates.reserve(audio_source_list_.size());
    for (const auto& status : audio_source_list_)
        preferredRates.push_back(status->audio_source->PreferredSampleRate());
    output_frequency_ = output_rate_calculator_->CalculateOutputRate(preferredRates);
    sample_size_ = size_t(std::max(0, output_frequency_ / 100));
}

std::vector<AudioFrame*> AudioMixerImpl::GetAudioFromSources()
{
    std::vector<SourceFrame> frames;
    frames.reserve(audio_source_list_.size());
    for (const auto& status : audio_source_list_) {
        AudioFrame* frame = &status->audio_frame;
        const Source::AudioFrameInfo info = status->audio_source->PullAudioFrame(output_frequency_, frame);
        if (info == Source::AudioFrameInfo::kError)
            continue;
        const bool muted = info == Source::AudioFrameInfo::kMuted;
        frames.push_back({ status.get(), frame, muted, muted ? 0 : AudioMixerCalculateEnergy(*frame) });
    }
    std::sort(frames.begin(), frames.end(), ShouldMixBefore);

    std::vector<AudioFrame*> mixList;
    std::vector<SourceFrame*> rampList;
    int budget = kMaximumAmountOfMixedAudioSources;
    for (SourceFrame& candidate : frames) {
        if (candidate.muted || budget <= 0) {
            candidate.status->is_mixed = false;
            continue;
        }
        mixList.push_back(candidate.frame);
        rampList.push_back(&candidate);
        --budget;
        candidate.status->is_mixed = true;
    }
    // A source picked for the first time fades in from silence.
    for (SourceFrame* picked : rampList) {
        const float target = picked->status->is_mixed ? 1.0f : 0.0f;
        Ramp(picked->status->gain, target, picked->frame);
        picked->status->gain = target;
    }
    return mixList;
}

bool AudioMixerImpl::Mix(size_t number_of_channels, AudioFrame* audio_frame_for_mixing)
{
    RTC_CHECK_MSG(
        number_of_channels == 1 || number_of_channels == 2, "number_of_channels == 1 || number_of_channels == 2");
    rtc::internal::RaceCheckerScope race(&race_checker_);
    RTC_CHECK_MSG(!race.RaceDetected(), "!race_checker.RaceDetected()");
    CalculateOutputFrequency();
    rtc::CritScope lock(&crit_);
    const std::vector<AudioFrame*> mixList = GetAudioFromSources();
    frame_combiner_.Combine(
        mixList, number_of_channels, output_frequency_, audio_source_list_.size(), audio_frame_for_mixing);
    return !mixList.empty();
}

} // namespace webrtc
