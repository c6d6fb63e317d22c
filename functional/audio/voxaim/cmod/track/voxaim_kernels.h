#ifndef FUNCTIONAL_AUDIO_VOXAIM_CMOD_TRACK_VOXAIM_KERNELS_H
#define FUNCTIONAL_AUDIO_VOXAIM_CMOD_TRACK_VOXAIM_KERNELS_H
/*
 * The per-frame element loops of the engine and its detectors, written once
 * (voxaim_kernels_algorithm.h) against the DSP library's vector layers and
 * built for each of them: portable, NEON on ARM, SSE2 and AVX2 on x86-64.
 * kernels() is the build of the library's widest variant (its one
 * dispatcher), the one the engine runs.
 *
 * Every build gives the portable results bit for bit (products are rounded
 * before they are added, never fused), except on NEON: it flushes subnormal
 * inputs and results to zero, and its divisions and square roots (weights,
 * phase transform, noise magnitudes) are reciprocal (square root) estimates
 * refined by two Newton steps, within a few units in the last place. A NaN
 * correlation value may or may not reach a pair's quality maximum.
 *
 * Complex arrays are (re, im) float pairs. No loop allocates.
 */
#include <cstddef>
#include <cstdint>
#include <span>

#include "functional/audio/libraries/dsplib/arm/variants.h"
#include "functional/audio/voxaim/cmod/track/voxaim_spectrum.h"

namespace voxaim {

/* Noise power estimate: the share of the gap closed per frame when the power
 * falls (to or below the estimate) and when it rises. */
inline constexpr float kNoiseFall = 0.59813082f;
inline constexpr float kNoiseRise = 0.014121801f;
/* A bin at or below this power carries no speech weight. */
inline constexpr float kSilentPower = 1e-7f;
/* A numerator bin whose weight stays below this is held, then cleared. */
inline constexpr float kSilentWeight = 1e-7f;
/* Numerator bins at or below this squared magnitude have no phase. */
inline constexpr float kSmallestMagnitude = 1e-14f;
/* The start of every maximum search: the lowest finite float. */
inline constexpr float kLowest = -3.4028235e38f;
/* Cells per group of a search grid's offset table (accumulateGrid). */
inline constexpr int kGridGroup = 8;

struct Kernels {
    const char *name; // the layer's: "portable", "neon", "sse2", "avx2"

    /* out[i] = in[i] * factor, i < n. */
    void (*scale)(const float *in, float factor, float *out, size_t n);
    /* out[i] = a[i] * b[i], i < n. */
    void (*multiply)(const float *a, const float *b, float *out, size_t n);
    /* out = a * conj(b) for the n / 2 complex values of a and b (n floats). */
    void (*multiplyConjugate)(const float *a, const float *b, float *out, size_t n);
    /* What voxaim::trackNoiseAndWeights promises (voxaim_analysis.h). */
    void (*trackNoiseAndWeights)(std::span<const float> spectrum, std::span<float> noisePower, std::span<float> weight);
    /* What voxaim::smoothPairNumerator promises (voxaim_analysis.h). */
    void (*smoothPairNumerator)(std::span<float> current, std::span<const float> previous, std::span<uint8_t> timeout,
                                std::span<const float> weightA, std::span<const float> weightB, int lowerBin,
                                int upperBin, float gain, uint8_t timeoutLimit);
    /* Phase transform: bins 0 ... bins - 1 of numerator scaled to unit
     * magnitude (zero where re^2 + im^2 <= 1e-14) into spectrum. */
    void (*phaseTransform)(const float *numerator, float *spectrum, int bins);
    /* A search grid: cell i = the sum over the pairs, in their order, of the
     * value at each pair's byte offset into windows. offsets holds groups
     * of kGridGroup cells, each with `pairs` runs of kGridGroup offsets (a
     * last partial group padded); pairs >= 1. */
    void (*accumulateGrid)(const float *windows, const uint32_t *offsets, int pairs, std::span<float> accumulator);
    /* The largest of the values at count byte offsets into windows
     * (kLowest for none). */
    float (*largestAt)(const float *windows, const uint32_t *offsets, int count);
    /* What voxaim::bestCell promises (voxaim_search.h). */
    int32_t (*bestCell)(std::span<const float> accumulator, std::span<const float> azimuthAngles,
                        std::span<const float> rowAngles);

    /* The split steps of the real FFT (voxaim_fft.h), bins 0 ... n - 1:
     * forward G[k] = Z[k] A[k] + conj(Z[n-k]) B[k], inverse G[k] = Z[k]
     * conj(A[k]) + conj(Z[n-k]) conj(B[k]) (Z holds n + 1 bins), and the
     * inverse of a spectrum that is zero above bin band (splitIfftBand). */
    void (*splitForward)(int n, const float *Z, const float *A, const float *B, float *G);
    void (*splitInverse)(int n, const float *Z, const float *A, const float *B, float *G);
    void (*splitInverseBand)(int n, const float *S, int band, const float *A, const float *B, float *G);

    /* Noise level estimator: with m = 0.5 (|a| + |b|) of each bin,
     * fast = fastKeep fast + fastGain m and slow = slowKeep slow + slowGain m. */
    void (*smoothLevels)(const float *a, const float *b, float *fast, float *slow, int bins, const float gains[4]);
    /* level += share (target - level). */
    void (*followLevel)(float *level, const float *target, int bins, float share);
    /* level += d up when d = target - level >= 0, else d down. */
    void (*creepLevel)(float *level, const float *target, int bins, float up, float down);
    /* out[k] = 0.5 (|a_k|^2 + |b_k|^2). */
    void (*meanPowers)(const float *a, const float *b, float *out, int bins);
    /* out[k] = |s_k|^2. */
    void (*binPowers)(const float *spectrum, float *out, int bins);
};

/* The loops on the library's widest variant. */
const Kernels &kernels();

/* The build for a layer; nullptr where it is not built for this target. */
const Kernels *kernelsFor(dsplib::Layer layer);

/* One per unit voxaim_kernels_<layer>.cpp; nullptr where not built. */
const Kernels *portableKernels();
const Kernels *neonKernels();
const Kernels *sse2Kernels();
const Kernels *avx2Kernels();

} // namespace voxaim

#endif
