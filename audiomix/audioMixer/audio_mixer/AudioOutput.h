#pragma once
// webrtc::AudioOutput: an output rate fixed at construction, whatever the
// sources prefer (the program mixers always mix at their own rate).
#include "OutputRateCalculator.h"

namespace webrtc {

class AudioOutput : public OutputRateCalculator {
public:
    explicit AudioOutput(int sampleRateHz)
        : sample_rate_hz_(sampleRateHz)
    {
    }
    int CalculateOutputRate(const std::vector<int>&) override { return sample_rate_hz_; }

private:
    const int sample_rate_hz_;
};

} // namespace webrtc
