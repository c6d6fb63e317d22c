#include "functional/audio/voxaim/cmod/track/NoiseLevelEstimation.h"

#include <algorithm>
#include <cmath>

#include "functional/audio/voxaim/cmod/track/voxaim_kernels.h"

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

constexpr float FastKeep = 0.75f, FastGain = 0.318309873f;  /* 1/pi */
constexpr float SlowKeep = 0.875f, SlowGain = 0.159154937f; /* 1/(2 pi) */
constexpr float FollowFast = 0.0625f;
constexpr float CreepUp = 2.38418579e-07f;   /* 2^-22 */
constexpr float CreepDown = 3.81469727e-06f; /* 2^-18 */

/* FastLevel and SlowLevel of every bin follow m = 0.5 (|a| + |b|). On NEON
 * the magnitudes are power x 1/sqrt(power) estimates (a few units in the
 * last place); the rest rounds as the scalar formulas do. */
void smoothLevels(std::span<const float, voxaim::kSpectrumFloats> a, std::span<const float, voxaim::kSpectrumFloats> b)
{
    static constexpr float gains[4] = {FastKeep, FastGain, SlowKeep, SlowGain};
    voxaim::kernels().smoothLevels(a.data(), b.data(), State.FastLevel.data(), State.SlowLevel.data(), Bins, gains);
}

/* The estimate closes 1/16 of its gap to SlowLevel. */
void followQuickly()
{
    voxaim::kernels().followLevel(State.NoiseLevel.data(), State.SlowLevel.data(), Bins, FollowFast);
}

/* The estimate creeps towards SlowLevel; rising is sixteen times slower
 * than falling. */
void creep()
{
    voxaim::kernels().creepLevel(State.NoiseLevel.data(), State.SlowLevel.data(), Bins, CreepUp, CreepDown);
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
    smoothLevels(a, b);

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

    if (followFast || State.NoiseCountFromBoot != 0)
        followQuickly();
    else
        creep();
    return State.NoiseLevel.data();
}
