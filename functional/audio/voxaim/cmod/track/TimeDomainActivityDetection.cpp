#include "functional/audio/voxaim/cmod/track/TimeDomainActivityDetection.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>

#include "functional/audio/libraries/dsplib/arm/sp_fir_neon.h"
#include "functional/audio/voxaim/cmod/track/voxaim_spectrum.h"

namespace {

constexpr int FrameLength = voxaim::kFrameLength;
/* The analysed window: the middle block of the history with 43 samples
 * before and 44 after it. */
constexpr int WindowStart = FrameLength - 43;
constexpr int WindowLength = FrameLength + 43 + 44;
constexpr int LowPassOutputs = 2104;
constexpr int HighPassOutputs = 2080;
constexpr float JumpLimit = 1.7f;
constexpr float MedianFloor = 1e-7f;
constexpr float SmallestMedianStep = 1e-12f;

/* Unity gain at 0 Hz, flat to about 16 kHz, 0.5 at 18 kHz. */
constexpr std::array<float, 32> LowPassFilterCoefficients{
    0.0f,     -0.0012f, 0.002f,  -0.0021f, 0.0f,     0.0048f, -0.0099f, 0.01f,    -0.0f,   -0.0189f, 0.0362f,
    -0.0347f, 0.0f,     0.0685f, -0.1529f, 0.223f,   0.7505f, 0.223f,   -0.1529f, 0.0685f, 0.0f,     -0.0347f,
    0.0362f,  -0.0189f, -0.0f,   0.01f,    -0.0099f, 0.0048f, 0.0f,     -0.0021f, 0.002f,  -0.0012f};
/* Zero gain at 0 Hz, about 0.001 or less up to 6 kHz, 0.74 at 10 kHz. */
constexpr std::array<float, 24> HighPassFilterCoefficients{0.0f,     -0.0013f, 0.0051f,  -0.0006f, -0.0122f, -0.009f,
                                                           0.0302f,  0.0438f,  -0.0422f, -0.1475f, -0.0948f, 1.1146f,
                                                           -1.7722f, 1.1146f,  -0.0948f, -0.1475f, -0.0422f, 0.0438f,
                                                           0.0302f,  -0.009f,  -0.0122f, -0.0006f, 0.0051f,  -0.0013f};
/* A 32-sample moving average. */
constexpr auto EnvelopeFilterCoefficients = [] {
    std::array<float, 32> h{};
    h.fill(0.03125f);
    return h;
}();

std::array<float, 3 * FrameLength> AudioData{}; /* channel history, oldest block first */
std::array<float, WindowLength> FilterInput{};
std::array<float, LowPassOutputs> EnvelopeOutput{};
std::array<float, FrameLength> MedianOutput{};
float CurrentMedianFilterDifference = SmallestMedianStep;
uint8_t PreviousResult = 1;
int32_t ChannelOffset = 0;

void filter(const float *x, std::span<const float> h, float *y, int outputs)
{
    voxaim_firFilter(x, h.data(), y, static_cast<int>(h.size()), outputs);
}

/* Sign-step median tracker over the envelope E (in EnvelopeOutput), writing
 * MedianOutput. It starts from the last median of the previous call; E[0]
 * does not move it. */
void trackMedian()
{
    float m = MedianOutput[FrameLength - 1];
    float step = CurrentMedianFilterDifference;
    MedianOutput[0] = m;
    for (int i = 1; i < FrameLength; ++i) {
        m = EnvelopeOutput[i] > m ? m + step : m - step;
        MedianOutput[i] = m;
        step = std::max(0.005f * m, SmallestMedianStep);
    }
    CurrentMedianFilterDifference = step;
}

} // namespace

float timeDomainJumpMeasure(std::span<const float> envelope, std::span<const float> median)
{
    float r = 0.0f;
    for (size_t i = 0; i < median.size(); ++i)
        if (median[i] > MedianFloor)
            r = std::max(r, (envelope[i] - median[i]) / median[i]);
    return r;
}

uint8_t timeDomainDecision(float jump)
{
    if (jump > JumpLimit) {
        PreviousResult = 0;
        return 0;
    }
    const uint8_t result = PreviousResult;
    PreviousResult = 1;
    return result;
}

extern "C" void initializeTimeDomainActivityDetector(void)
{
    EnvelopeOutput.fill(0.0f);
    MedianOutput.fill(0.0f);
    FilterInput.fill(0.0f);
    AudioData.fill(0.0f);
    PreviousResult = 1;
    CurrentMedianFilterDifference = SmallestMedianStep;
}

extern "C" void setTimeDomainVadChannel(unsigned int channel)
{
    ChannelOffset = static_cast<int32_t>(channel) * FrameLength;
}

extern "C" void detectTimeDomainActivity(const float *audio, uint8_t *result)
{
    *result = 0;

    std::memmove(AudioData.data(), AudioData.data() + FrameLength, 2 * FrameLength * sizeof(float));
    std::memcpy(AudioData.data() + 2 * FrameLength, audio + ChannelOffset, FrameLength * sizeof(float));

    std::copy_n(AudioData.begin() + WindowStart, WindowLength, FilterInput.begin());
    filter(FilterInput.data(), LowPassFilterCoefficients, EnvelopeOutput.data(), LowPassOutputs);
    std::copy_n(EnvelopeOutput.begin(), LowPassOutputs, FilterInput.begin());
    filter(FilterInput.data(), HighPassFilterCoefficients, EnvelopeOutput.data(), HighPassOutputs);
    for (int i = 0; i < HighPassOutputs; ++i)
        FilterInput[i] = std::fabs(EnvelopeOutput[i]);
    filter(FilterInput.data(), EnvelopeFilterCoefficients, EnvelopeOutput.data(), FrameLength);

    trackMedian();
    const float jump = timeDomainJumpMeasure(std::span<const float>(EnvelopeOutput.data(), FrameLength), MedianOutput);
    *result = timeDomainDecision(jump);
}
