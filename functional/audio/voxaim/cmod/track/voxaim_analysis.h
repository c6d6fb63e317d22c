#ifndef FUNCTIONAL_AUDIO_VOXAIM_CMOD_TRACK_VOXAIM_ANALYSIS_H
#define FUNCTIONAL_AUDIO_VOXAIM_CMOD_TRACK_VOXAIM_ANALYSIS_H
/*
 * Frame analysis, the first half of voxaim_calculate: normalisation, the
 * time-domain detector, the windowed transforms of every channel, per-bin
 * noise power and speech weight, the spectral detectors, and the smoothed
 * cross-spectrum (numerator) of every microphone pair.
 */
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* out[i] = in[i] / 2^(bits - 1) for the channels * 2048 samples of a frame. */
void voxaim_normalizeInput(const float *in, float *out, int32_t bitsPerSample, int32_t channels);

/* out[i] = a[i] * b[i], i < n. */
void voxaim_vectorMultiply(const float *a, const float *b, float *out, int32_t n);

/* Per channel: block = the channel's 2048 previous samples, then its 2048
 * current samples (4096 floats per channel). */
void voxaim_overlapInputChannels(float *block, const float *previous, const float *current, int32_t channels);

/* out = a * conj(b) for the n / 2 complex values of a and b (n floats). */
void voxaim_multiplyWithComplexConjugate(const float *a, const float *b, float *out, int32_t n);

#ifdef __cplusplus
}

#include <span>

#include "functional/audio/voxaim/cmod/track/voxaim_internal.h"

namespace voxaim {

/* The per-frame answers that end up in the output flag word. */
struct FrameFlags {
    uint8_t farEnd = 0;
    uint8_t noiseHold = 0;
    uint8_t voiceActivity = 0;
    uint8_t soundActivity = 0;
    uint8_t timeDomainAnswer = 0;
    uint8_t ultraSoundDistortion = 0;
    uint8_t panelUpright = 0;
};

/* Runs the whole first half on the engine state for one frame. */
void analyzeFrame(const float *frame, int32_t bitsPerSample, FrameFlags &flags);

/* Noise power and speech weight of every bin: for each bin of spectrum
 * (complex pairs) the noise power estimate falls fast (0.598) and rises
 * slowly (0.0141) towards the bin's power P; the weight is
 * 1.25 (P - 9 N) / P within 0 ... 0.5, and 0 for P <= 1e-7. */
void trackNoiseAndWeights(std::span<const float> spectrum, std::span<float> noisePower, std::span<float> weight);

/* Smooths one pair's numerator over bins lowerBin ... upperBin + 1: the new
 * value follows this frame's cross-spectrum by the bin's weight
 * w = min(weightA, weightB) * gain; a bin whose weight stays below 1e-7 is held,
 * and cleared once it has done so for timeoutLimit frames. Bins outside the
 * band are zero; they are cleared first, so bin upperBin + 1 smooths towards
 * zero. current holds the cross-spectrum on entry and the numerator
 * on exit (4098 floats each; timeout 2049 counters). */
void smoothPairNumerator(std::span<float> current, std::span<const float> previous, std::span<uint8_t> timeout,
                         std::span<const float> weightA, std::span<const float> weightB, int lowerBin, int upperBin,
                         float gain, uint8_t timeoutLimit);

} // namespace voxaim
#endif

#endif
