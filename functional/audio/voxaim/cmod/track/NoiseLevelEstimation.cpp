#include "functional/audio/voxaim/cmod/track/NoiseLevelEstimation.h"

#include <algorithm>
#include <cmath>

namespace {

using voxaim::channelSpectrum;
constexpr int Bins = NoiseLevelState::Bins;
/* Band whose sums drive the steadiness test: bins 12 ... 511 (140.6 Hz ... 5988 Hz). */
constexpr int BandFirst = 12;
constexpr int BandLast = 511;
constexpr int16_t StartupFrames = 40;
constexpr int16_t ShortestSteadyLimit = 20;
constexpr int16_t LongestSteadyLimit = 32;

NoiseLevelState State;

float magnitude(std::span<const float, voxaim::kSpectrumFloats> channel, int k)
{
    return std::sqrt(voxaim::binPower(channel, k));
}

/* Steady frames needed before the fast update: 3 per whole dB by which the
 * fast level stands above the estimate, within 20 ... 32. */
int16_t steadyFrameLimit(float fastSum, float noiseSum)
{
    float limit = 3.0f * std::floor(20.0f * std::log10(fastSum / (noiseSum + 1e-34f)));
    // Written so that a zero ratio (-inf) and NaN both give the lower bound
    // before the float is converted to an integer.
    if (!(limit >= ShortestSteadyLimit))
        return ShortestSteadyLimit;
    if (limit > LongestSteadyLimit)
        return LongestSteadyLimit;
    return static_cast<int16_t>(limit);
}

} // namespace

const NoiseLevelState &noiseLevelState() { return State; }

extern "C" void intializeNoiseLevel(void)
{
    State.SlowLevel.fill(0.0f);
    State.FastLevel.fill(0.0f);
    State.NoiseLevel.fill(0.0f);
    State.NoiseDetectionCounter = 0;
    State.NoiseAmplification = 0.0f;
    State.CurrentNoiseDurationLimit = 0;
    State.NoiseCountFromBoot = StartupFrames;
}

extern "C" void setNoiseLevelChannels(unsigned int first, unsigned int second)
{
    State.NoiseLevelChannel1 = static_cast<int32_t>(first);
    State.NoiseLevelChannel2 = static_cast<int32_t>(second);
}

extern "C" const float *calculateNoiseLevel(const float *spectrum, uint8_t hold)
{
    if (hold)
        return State.NoiseLevel.data();

    const auto a = channelSpectrum(spectrum, State.NoiseLevelChannel1);
    const auto b = channelSpectrum(spectrum, State.NoiseLevelChannel2);
    for (int k = 0; k < Bins; ++k) {
        const float m = 0.5f * (magnitude(a, k) + magnitude(b, k));
        State.FastLevel[k] = 0.75f * State.FastLevel[k] + 0.318309873f * m;
        State.SlowLevel[k] = 0.875f * State.SlowLevel[k] + 0.159154937f * m;
    }

    float fastSum = 0.0f, slowSum = 0.0f, noiseSum = 0.0f;
    for (int k = BandFirst; k <= BandLast; ++k) {
        fastSum += State.FastLevel[k];
        slowSum += State.SlowLevel[k];
        noiseSum += State.NoiseLevel[k];
    }

    if (slowSum <= 1e-34f)
        State.NoiseCountFromBoot = StartupFrames;
    else
        State.NoiseCountFromBoot = std::max<int16_t>(State.NoiseCountFromBoot - 1, 0);

    bool followFast;
    if (std::fabs(slowSum - State.NoiseAmplification) < 0.0625f * slowSum) {
        const int16_t limit = steadyFrameLimit(fastSum, noiseSum);
        State.NoiseDetectionCounter = std::min<int16_t>(State.NoiseDetectionCounter + 1, limit);
        State.CurrentNoiseDurationLimit = limit;
        followFast = limit <= State.NoiseDetectionCounter;
    } else {
        State.NoiseDetectionCounter = 0;
        State.CurrentNoiseDurationLimit = ShortestSteadyLimit;
        State.NoiseAmplification = slowSum;
        followFast = false;
    }
    if (noiseSum > slowSum)
        followFast = true;

    if (followFast || State.NoiseCountFromBoot != 0) {
        for (int k = 0; k < Bins; ++k)
            State.NoiseLevel[k] += 0.0625f * (State.SlowLevel[k] - State.NoiseLevel[k]);
    } else {
        // Rising is sixteen times slower than falling.
        for (int k = 0; k < Bins; ++k) {
            const float d = State.SlowLevel[k] - State.NoiseLevel[k];
            State.NoiseLevel[k] += d >= 0.0f ? d * 2.38418579e-07f : d * 3.81469727e-06f;
        }
    }
    return State.NoiseLevel.data();
}
