#include "functional/audio/voxaim/cmod/track/UltraSoundDistortionDetection.h"

#include <array>
#include <cassert>
#include <cmath>
#include <memory>
#include <new>

#include "functional/audio/voxaim/cmod/track/voxaim_spectrum.h"
#include "platform/audio/audtest/eventlog.h"

#include "functional/audio/voxaim/cmod/track/voxaim_kernels.h"

namespace {

constexpr int UltraSoundFirst = 1728, UltraSoundLast = 1844; /* 20250.0 ... 21609.4 Hz */
constexpr int NeighborFirst = 1536, NeighborLast = 1705;     /* 18000.0 ... 19980.5 Hz */
constexpr int16_t BlockFrames = 20;
constexpr float InitialLevel_dB = -100.0f;
/* Level offset in dB: the single-precision constant widened to double. */
constexpr double LevelOffset_dB = static_cast<double>(60.7555f);
constexpr float HoldAbove_dB = -60.0f;
constexpr float DistortionAbove_dB = -25.0f;
constexpr float NeighborMargin_dB = 15.0f;

std::unique_ptr<float[]> UltraSoundLevel;
std::unique_ptr<float[]> NeighborBandLevel;
int Capacity = 0; /* length of both arrays */
float TimeSmoothingFactor = 0.06058693f;
int16_t AccCount = 0;
uint8_t WarningIssued = 0;
float MaxUltraSoundLevel_dB = InitialLevel_dB;
float LastMaxUltraSoundLevel_dB = InitialLevel_dB;

/* The sum of re^2 + im^2 over bins first ... last, added in bin order (the
 * powers computed a vector at a time). */
float bandPower(std::span<const float, voxaim::kSpectrumFloats> channel, int first, int last)
{
    std::array<float, NeighborLast - NeighborFirst + 1> powers;
    static_assert(UltraSoundLast - UltraSoundFirst < static_cast<int>(powers.size()));
    const int count = last - first + 1;
    voxaim::kernels().binPowers(channel.data() + 2 * first, powers.data(), count);
    float sum = 0.0f;
    for (int k = 0; k < count; ++k)
        sum += powers[k];
    return sum;
}

float levelIn_dB(float power)
{
    return static_cast<float>(10.0 * std::log10(static_cast<double>(power)) - LevelOffset_dB);
}

/* The loudest of the first `channels` channels; ties keep the lower index,
 * no level above 0 gives 0. */
int loudestChannel(int channels)
{
    float loudest = 0.0f;
    int index = 0;
    for (int ch = 0; ch < channels; ++ch) {
        if (UltraSoundLevel[ch] > loudest) {
            loudest = UltraSoundLevel[ch];
            index = ch;
        }
    }
    return index;
}

void judgeBlock(int channels, uint8_t *distortion)
{
    const int ch = loudestChannel(channels);
    float us = levelIn_dB(UltraSoundLevel[ch]);
    const float nb = levelIn_dB(NeighborBandLevel[ch]);
    MaxUltraSoundLevel_dB = us;
    // A loud level that does not stand clear of its neighbour band is
    // broadband sound, not ultrasound: keep the previous published level.
    if (us > HoldAbove_dB && us - nb < NeighborMargin_dB) {
        MaxUltraSoundLevel_dB = LastMaxUltraSoundLevel_dB;
        us = MaxUltraSoundLevel_dB;
    }
    LastMaxUltraSoundLevel_dB = MaxUltraSoundLevel_dB;

    if (us > DistortionAbove_dB && us - nb > NeighborMargin_dB) {
        *distortion = 1;
        if (!WarningIssued) {
            eventlog("Warning: Ultrasound level is too high, channel: %d ultrasound level: %3.1f "
                     "neighborband level: %3.1f\n",
                     ch, static_cast<double>(us), static_cast<double>(nb));
            WarningIssued = 1;
        }
    } else if (WarningIssued) {
        eventlog("Ultrasound level is ok, ultrasound level: %3.1f neighborband level: %3.1f\n", static_cast<double>(us),
                 static_cast<double>(nb));
        WarningIssued = 0;
    }

    AccCount = 0;
    for (int c = 0; c < Capacity; ++c) {
        UltraSoundLevel[c] = 0.0f;
        NeighborBandLevel[c] = 0.0f;
    }
}

} // namespace

extern "C" void initializeUltraSoundDistortionDetector(int32_t channels)
{
    Capacity = 0;
    UltraSoundLevel.reset(new (std::nothrow) float[channels > 0 ? channels : 1]());
    assert(UltraSoundLevel);
    NeighborBandLevel.reset(new (std::nothrow) float[channels > 0 ? channels : 1]());
    assert(NeighborBandLevel);
    Capacity = channels > 0 ? channels : 0;
    TimeSmoothingFactor = 0.06058693f;
    AccCount = 0;
    WarningIssued = 0;
    MaxUltraSoundLevel_dB = InitialLevel_dB;
    LastMaxUltraSoundLevel_dB = InitialLevel_dB;
}

extern "C" void destroyUltraSoundDistortionDetector(void)
{
    UltraSoundLevel.reset();
    NeighborBandLevel.reset();
    Capacity = 0;
}

extern "C" void detectUltraSoundDistortion(const float *spectrum, int32_t channels, uint8_t *distortion)
{
    assert(channels <= Capacity);
    *distortion = 0;
    for (int ch = 0; ch < channels; ++ch) {
        const auto channel = voxaim::channelSpectrum(spectrum, ch);
        const float pus = bandPower(channel, UltraSoundFirst, UltraSoundLast);
        const float pnb = bandPower(channel, NeighborFirst, NeighborLast);
        UltraSoundLevel[ch] += TimeSmoothingFactor * (pus - UltraSoundLevel[ch]);
        NeighborBandLevel[ch] += TimeSmoothingFactor * (pnb - NeighborBandLevel[ch]);
    }
    if (++AccCount != BlockFrames)
        return;
    judgeBlock(channels, distortion);
}

extern "C" float voxaim_getUltraSoundLevel(void) { return MaxUltraSoundLevel_dB; }
