#ifndef FUNCTIONAL_AUDIO_VOXAIM_CMOD_TRACK_VOXAIM_SEARCH_H
#define FUNCTIONAL_AUDIO_VOXAIM_CMOD_TRACK_VOXAIM_SEARCH_H
/*
 * Position search, the second half of voxaim_calculate: the phase-transform
 * weighted correlation of every pair at four times the sample rate, summed
 * over the delay tables into the (elevation, azimuth) and (range, azimuth)
 * grids, the best cells, the quality figure, the upside-down test and the
 * flag word.
 */
#include <cstdint>
#include <span>

#include "functional/audio/voxaim/cmod/track/voxaim_analysis.h"
#include "functional/audio/voxaim/cmod/track/voxaim_geometry.h"
#include "functional/audio/voxaim/cmod/track/voxaim_internal.h"

namespace voxaim {

/* A pair's correlation at four times the sample rate: 16384 lags, lag m at
 * element m, circular (lags above 8191 are negative). */
using Correlation = std::span<const float, kUpsampledLength>;

/* The band of the numerators: bins above it are zero (smoothPairNumerator
 * clears every bin above upperBin + 1). */
inline constexpr int kCorrelationBand = kUpperBin + 1;

/* Turns this frame's numerator of the pair with global index g (zero above
 * bin kCorrelationBand) into its correlation, with the loudspeaker's direct
 * path suppressed when the variant asks for it and the pair is an azimuth
 * pair. The correlation is formed in FftOutput and stays valid until the
 * next call; it is computed only at the lags of the pair's delay table
 * (0 ... lagsAhead - 1 and 16384 - lagsBehind ... 16383), the others are
 * left unspecified. */
Correlation correlatePair(int32_t g);

/* Keeps the pair's correlation at its window's lags in CorrelationWindows;
 * returns the largest value at the lags its delay table reads. */
float keepWindow(Correlation correlation, const MicrophonePair &pair);

/* Multiplies lags lag - width ... lag + width (taken modulo the correlation
 * length, so a band may wrap across lag 0) by attenuation. */
void suppressLagBand(std::span<float> correlation, int lag, int width, float attenuation);

/* Index of the largest accumulator cell: the lowest index wins ties, and a
 * cell whose grid azimuth (cell mod 227) or grid row (cell / 227) has no
 * angle (NaN) never wins. rowAngles may be empty (rows always valid). */
int32_t bestCell(std::span<const float> accumulator, std::span<const float> azimuthAngles,
                 std::span<const float> rowAngles);

/* Range of the (range, azimuth) cell q: the middle of the plateau of cells
 * q, q + 227, ... whose values stay within 1e-7 of cell q. */
float plateauRange(std::span<const float> accumulator, int32_t q, std::span<const float> ranges);

/* The mirel upside-down test: false (and counted, with a warning every
 * 100th time) when voice is active and the two outer vertical pairs
 * correlate more than 1.8 times as strongly as the others. */
bool panelUpright(uint32_t productType, uint8_t voiceActivity, const float *elevationQuality,
                  const float *azimuthQuality);

/* Runs the whole second half on the engine state and writes *result. The
 * next frame's analysis block is left to the caller. */
void searchPosition(FrameFlags &flags, VoxaimResult *result);

} // namespace voxaim

#endif
