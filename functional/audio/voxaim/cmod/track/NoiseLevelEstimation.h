#ifndef FUNCTIONAL_AUDIO_VOXAIM_CMOD_TRACK_NOISELEVELESTIMATION_H
#define FUNCTIONAL_AUDIO_VOXAIM_CMOD_TRACK_NOISELEVELESTIMATION_H
/*
 * Noise level estimator: per bin of the engine's spectrum, an estimate of the
 * background noise magnitude seen by two chosen microphones.
 *
 * The spectrum handed in is the engine's FftResult, laid out as
 * voxaim_spectrum.h describes (2049 complex bins per channel, channel after
 * channel).
 *
 * The estimate (in units of 4/pi times the mean magnitude of the two
 * channels) follows the signal quickly during the first 39 frames after
 * initialisation and after digital silence, whenever the level has been
 * steady long enough, or when the level drops below the estimate; otherwise
 * it creeps towards the signal (2^-22 of the gap per frame upwards, 2^-18
 * downwards) so that speech does not raise it. Nothing allocates.
 */
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Clears the levels and counters; the start-up countdown restarts at 40.
 * The channel selection is kept. (The name is spelled so.) */
void intializeNoiseLevel(void);

/* Selects the two channels (0-based) whose spectra are averaged. Not range
 * checked: the caller passes indices below its channel count. */
void setNoiseLevelChannels(unsigned int first, unsigned int second);

/* Updates the estimate from one frame's spectrum and returns it (2049
 * floats, valid until the next call). With hold non-zero nothing changes and
 * the current estimate is returned. */
const float *calculateNoiseLevel(const float *spectrum, uint8_t hold);

#ifdef __cplusplus
}

#include <array>

#include "functional/audio/voxaim/cmod/track/voxaim_spectrum.h"

/* The estimator's module state, readable for diagnostics and tests. */
struct NoiseLevelState {
    static constexpr int Bins = voxaim::kSpectrumBins;
    std::array<float, Bins> NoiseLevel{};  /* the estimate per bin */
    std::array<float, Bins> FastLevel{};   /* fast-smoothed mean magnitude */
    std::array<float, Bins> SlowLevel{};   /* slow-smoothed mean magnitude */
    float NoiseAmplification = 0.0f;       /* reference of the summed slow level */
    int16_t NoiseDetectionCounter = 0;     /* steady frames, capped at the limit */
    int16_t CurrentNoiseDurationLimit = 0; /* steady frames needed (20 ... 32) */
    int16_t NoiseCountFromBoot = 40;       /* start-up countdown */
    int32_t NoiseLevelChannel1 = 1;
    int32_t NoiseLevelChannel2 = 2;
};
const NoiseLevelState &noiseLevelState();
#endif

#endif
