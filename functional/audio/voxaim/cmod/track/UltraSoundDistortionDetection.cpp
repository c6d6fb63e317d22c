#include "functional/audio/voxaim/cmod/track/UltraSoundDistortionDetection.h"

#include <cassert>
#include <cmath>
#include <memory>
#include <new>

#include "functional/audio/voxaim/cmod/track/voxaim_spectrum.h"
#include "platform/audio/audtest/eventlog.h"

#if defined(__ARM_NEON)
#include "functional/audio/voxaim/cmod/track/voxaim_neon.h"
#endif

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
int Channels = 0; /* length of both arrays */
float TimeSmoothingFactor = 0.06058693f;
int16_t AccCount = 0;
uint8_t WarningIssued = 0;
float MaxUltraSoundLevel_dB = InitialLevel_dB;
float LastMaxUltraSoundLevel_dB = InitialLevel_dB;

/* The sum of re^2 + im^2 over bins first ... last, added in bin order. */
float bandPower(std::span<const float, voxaim::kSpectrumFloats> channel, int first, int last)
{
    float sum = 0.0f;
    int k = first;
#if defined(__ARM_NEON)
    // The powers four at a time; the sum stays in order.
    for (; k + 4 <= last + 1; k += 4) {
        float p[4];
        vst1q_f32(p, voxaim::neon::power(vld2q_f32(channel.data() + 2 * k)));
        sum = (((sum + p[0]) + p[1]) + p[2]) + p[3];
    }
#endif
    for (; k <= last; ++k)
        sum += voxaim::binPower(channel, k);
    return sum;
}

float levelIn_dB(float power)
{
    return static_cast<float>(10.0 * std::log10(static_cast<double>(power)) - LevelOffset_dB);
}

/* The loudest channel; ties keep the lower index, no level above 0 gives 0. */
int loudestChannel()
{
    float loudest = 0.0f;
    int index = 0;
    for (int ch = 0; ch < Channels; ++ch) {
        if (UltraSoundLevel[ch] > loudest) {
            loudest = UltraSoundLevel[ch];
            index = ch;
        }
    }
    return index;
}

void judgeBlock(uint8_t *distortion)
{
    const int ch = loudestChannel();
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
    for (int c = 0; c < Channels; ++c) {
        UltraSoundLevel[c] = 0.0f;
        NeighborBandLevel[c] = 0.0f;
    }
}

} // namespace

extern "C" void initializeUltraSoundDistortionDetector(int32_t channels)
{
    Channels = 0;
    UltraSoundLevel.reset(new (std::nothrow) float[channels > 0 ? channels : 1]());
    assert(UltraSoundLevel);
    NeighborBandLevel.reset(new (std::nothrow) float[channels > 0 ? channels : 1]());
    assert(NeighborBandLevel);
    Channels = channels > 0 ? channels : 0;
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
    Channels = 0;
}

extern "C" void detectUltraSoundDistortion(const float *spectrum, uint8_t *distortion)
{
    *distortion = 0;
    for (int ch = 0; ch < Channels; ++ch) {
        const auto channel = voxaim::channelSpectrum(spectrum, ch);
        const float pus = bandPower(channel, UltraSoundFirst, UltraSoundLast);
        const float pnb = bandPower(channel, NeighborFirst, NeighborLast);
        UltraSoundLevel[ch] += TimeSmoothingFactor * (pus - UltraSoundLevel[ch]);
        NeighborBandLevel[ch] += TimeSmoothingFactor * (pnb - NeighborBandLevel[ch]);
    }
    if (++AccCount != BlockFrames)
        return;
    judgeBlock(distortion);
}

extern "C" float voxaim_getUltraSoundLevel(void) { return MaxUltraSoundLevel_dB; }
