#include "functional/audio/voxaim/cmod/track/FrequencyDomainActivityDetection.h"

#include <limits>

#include "functional/audio/voxaim/cmod/track/voxaim_spectrum.h"

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
    float total = 0.0f, signal = 0.0f, noisePower = 0.0f, low = 0.0f;
    for (int k = 0; k <= TotalLast; ++k) {
        const float p = 0.5f * (binPower(a, k) + binPower(b, k));
        total += k <= DcWeightedLast ? 0.01f * p : p;
        if (k >= SpeechFirst && k <= SpeechLast) {
            signal += p;
            noisePower += noise[k] * noise[k];
        }
        if (k >= LowFirst && k <= LowLast)
            low += p;
    }

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
