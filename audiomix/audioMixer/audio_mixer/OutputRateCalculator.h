#pragma once
// Chooses the mixer's output rate from the rates its sources prefer.
#include <vector>

namespace webrtc {

class OutputRateCalculator {
public:
    virtual int CalculateOutputRate(const std::vector<int>& preferredSampleRates) = 0;
    virtual ~OutputRateCalculator() = default;
};

} // namespace webrtc
