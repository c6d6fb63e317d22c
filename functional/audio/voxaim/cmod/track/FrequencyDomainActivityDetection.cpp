#include "functional/audio/voxaim/cmod/track/FrequencyDomainActivityDetection.h"

#include <array>
#include <limits>

#include "functional/audio/voxaim/cmod/track/voxaim_spectrum.h"

#include "functional/audio/voxaim/cmod/track/voxaim_kernels.h"

namespace {

using voxaim::binPower;
using voxaim::channelSpectrum;
constexpr int TotalLast = 1193;   /* total band 0 ... 1193 (0 ... 13980 Hz) */
constexpr int DcWeightedLast = 7; /* bins 0 ... 7 count 0.01 in the total */
constexpr int SpeechFirst = 13, SpeechLast = 511;
constexpr int LowFirst = 18, LowLast = 54;
constexpr int16_t OnsetFrames = 7; /* consecutive frames above 1.1 before an onset */
constexpr int16_t HangoverFrames = 34;

FrequencyDomainVadState State;

/* P[k] = 0.5 (|a_k|^2 + |b_k|^2) of bins 0 ... TotalLast. */
using BandPowers = std::array<float, TotalLast + 1>;

void meanPowers(std::span<const float, voxaim::kSpectrumFloats> a, std::span<const float, voxaim::kSpectrumFloats> b,
                BandPowers &p)
{
    voxaim::kernels().meanPowers(a.data(), b.data(), p.data(), TotalLast + 1);
}

/* The counters saturate: a signal that stays above the noise for longer than
 * the 16-bit range must not wrap the count negative and silence the voice
 * answer for another 32768 frames. */
int16_t saturatingIncrement(int16_t count)
{
    return count < std::numeric_limits<int16_t>::max() ? static_cast<int16_t>(count + 1) : count;
}

} // namespace

FrequencyDomainVadState &frequencyDomainVadState() { return State; }

extern "C" void initializeFrequencyDomainActivityDetector(void)
{
    State.HangCount = 0;
    State.BurstCount = 0;
    State.TemporalCount = 0;
}

extern "C" void setFrequencyDomainVadChannels(unsigned int first, unsigned int second)
{
    State.FdVadChannel1 = static_cast<int32_t>(first);
    State.FdVadChannel2 = static_cast<int32_t>(second);
}

extern "C" uint32_t detectFrequencyDomainActivity(const float *spectrum, const float *noise, uint8_t *voice,
                                                  uint8_t *sound)
{
    *voice = 0;
    *sound = 0;

    const auto a = channelSpectrum(spectrum, State.FdVadChannel1);
    const auto b = channelSpectrum(spectrum, State.FdVadChannel2);
    BandPowers p;
    meanPowers(a, b, p);
    // Every sum adds its bins in order, in single precision.
    float total = 0.0f, signal = 0.0f, noisePower = 0.0f, low = 0.0f;
    for (int k = 0; k <= DcWeightedLast; ++k)
        total += 0.01f * p[k];
    for (int k = DcWeightedLast + 1; k <= TotalLast; ++k)
        total += p[k];
    for (int k = SpeechFirst; k <= SpeechLast; ++k) {
        signal += p[k];
        noisePower += noise[k] * noise[k];
    }
    for (int k = LowFirst; k <= LowLast; ++k)
        low += p[k];

    // A zero noise sum gives +inf (activity) or NaN (none): no guard needed.
    const float ratio = signal / noisePower;
    if (ratio > 1.3f)
        *sound = 1;

    if (!(ratio > 1.1f)) {
        State.TemporalCount = 0;
        State.BurstCount = 0;
    } else {
        State.TemporalCount = saturatingIncrement(State.TemporalCount);
        if (State.TemporalCount < OnsetFrames) {
            State.BurstCount = 0;
        } else if (!(total < 2.0f * low)) {
            // Not speech-like: the low band holds at most half of the total.
            State.BurstCount = 0;
        } else {
            State.BurstCount = saturatingIncrement(State.BurstCount);
            State.HangCount = HangoverFrames;
            *voice = 1;
            return 1;
        }
    }

    if (State.HangCount > 0) {
        --State.HangCount;
        *voice = 1;
        return 1;
    }
    return 0;
}
