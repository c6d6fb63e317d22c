#ifndef FUNCTIONAL_AUDIO_VOXAIM_CMOD_TRACK_VOXAIM_KERNELS_H
#define FUNCTIONAL_AUDIO_VOXAIM_CMOD_TRACK_VOXAIM_KERNELS_H
/*
 * The engine's per-frame element loops, in two versions with one contract:
 * `portable` (plain loops, built everywhere; the x86 compiler vectorises
 * them) and, where the target has NEON, `neon` (intrinsics on q registers:
 * the ARM compiler leaves float loops scalar). `kernels` names the version
 * the engine runs.
 *
 * The NEON versions give the portable results bit for bit, with two
 * exceptions: NEON flushes subnormal inputs and results to zero, and the
 * divisions and square roots of trackNoiseAndWeights and phaseTransform are
 * reciprocal (square root) estimates refined by two Newton steps, within a
 * few units in the last place of the quotient. accumulateCorrelation's
 * maximum propagates a NaN correlation value, where the portable loop
 * skips it.
 *
 * Complex arrays are (re, im) float pairs. No kernel allocates.
 */
#include <cstddef>
#include <cstdint>
#include <span>

#include "functional/audio/voxaim/cmod/track/voxaim_internal.h"

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

namespace portable {

/* out[i] = in[i] * factor, i < n. */
void scale(const float *in, float factor, float *out, size_t n);

/* out[i] = a[i] * b[i], i < n. */
void multiply(const float *a, const float *b, float *out, size_t n);

/* out = a * conj(b) for the n / 2 complex values of a and b (n floats). */
void multiplyConjugate(const float *a, const float *b, float *out, size_t n);

/* What voxaim::trackNoiseAndWeights promises (voxaim_analysis.h). */
void trackNoiseAndWeights(std::span<const float> spectrum, std::span<float> noisePower, std::span<float> weight);

/* What voxaim::smoothPairNumerator promises (voxaim_analysis.h). */
void smoothPairNumerator(std::span<float> current, std::span<const float> previous, std::span<uint8_t> timeout,
                         std::span<const float> weightA, std::span<const float> weightB, int lowerBin, int upperBin,
                         float gain, uint8_t timeoutLimit);

/* Phase transform: bins 0 ... 2047 of numerator scaled to unit magnitude
 * (zero where re^2 + im^2 <= 1e-14) into spectrum; bin 2048 and every float
 * after it are zero. */
void phaseTransform(std::span<const float, kSpectrumFloats> numerator, std::span<float, kFftScratchFloats> spectrum);

/* What voxaim::accumulateCorrelation promises (voxaim_search.h). */
float accumulateCorrelation(std::span<const float, kUpsampledLength> correlation, const int16_t *lookupTable,
                            std::span<float> accumulator, bool first);

/* What voxaim::bestCell promises (voxaim_search.h). */
int32_t bestCell(std::span<const float> accumulator, std::span<const float> azimuthAngles,
                 std::span<const float> rowAngles);

} // namespace portable

#if defined(__ARM_NEON)
/* The same contracts, on NEON. */
namespace neon {
void scale(const float *in, float factor, float *out, size_t n);
void multiply(const float *a, const float *b, float *out, size_t n);
void multiplyConjugate(const float *a, const float *b, float *out, size_t n);
void trackNoiseAndWeights(std::span<const float> spectrum, std::span<float> noisePower, std::span<float> weight);
void smoothPairNumerator(std::span<float> current, std::span<const float> previous, std::span<uint8_t> timeout,
                         std::span<const float> weightA, std::span<const float> weightB, int lowerBin, int upperBin,
                         float gain, uint8_t timeoutLimit);
void phaseTransform(std::span<const float, kSpectrumFloats> numerator, std::span<float, kFftScratchFloats> spectrum);
float accumulateCorrelation(std::span<const float, kUpsampledLength> correlation, const int16_t *lookupTable,
                            std::span<float> accumulator, bool first);
int32_t bestCell(std::span<const float> accumulator, std::span<const float> azimuthAngles,
                 std::span<const float> rowAngles);
} // namespace neon
namespace kernels = neon;
#else
namespace kernels = portable;
#endif

} // namespace voxaim

#endif
