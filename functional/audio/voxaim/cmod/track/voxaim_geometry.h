#ifndef FUNCTIONAL_AUDIO_VOXAIM_CMOD_TRACK_VOXAIM_GEOMETRY_H
#define FUNCTIONAL_AUDIO_VOXAIM_CMOD_TRACK_VOXAIM_GEOMETRY_H
/*
 * Array geometry: conversions between positions, distances and correlation
 * lags, the per-pair constants, and the grids and delay tables that the
 * position search reads.
 *
 * Points are 3 floats (x, y, z) in metres. A spherical position is 3 floats:
 * azimuth (radians), elevation (radians), radius (metres), with
 *   point = (r cos(el) cos(az), r cos(el) sin(az), r sin(el)).
 * A lag indexes the 16384-sample circular cross-correlation at 192000 samples
 * per second: one metre of path difference is 551.72412 lags.
 */
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* point = the Cartesian form of spherical (single-precision sine and cosine). */
void voxaim_sphericalToCartesian(const float *spherical, float *point);

/* Euclidean distance of two points, in single precision. */
float voxaim_calculateDistance(const float *first, const float *second);

/* Lag 0 ... 16383 of a path difference in metres: negative differences wrap
 * to the top of the circular correlation, rounding is to the nearest lag, and
 * a NaN or infinite difference gives 0. */
int16_t voxaim_distanceToSampleDelay(float difference);

/* The analysed band of a pair: *lowerBin = the 4096-point bin of 174 / d Hz
 * (d the microphones' distance, rounded to nearest), *upperBin = 1451. The two
 * microphones must not coincide. */
void voxaim_setCutoffCoefficients(const float *firstMicrophone, const float *secondMicrophone, int16_t *upperBin,
                                  int16_t *lowerBin);

#ifdef __cplusplus
}

#include "functional/audio/voxaim/cmod/track/voxaim_internal.h"

namespace voxaim {

inline constexpr float kLagsPerMetre = 551.72412f; // 192000 / 348 m/s
inline constexpr int kLagCount = kUpsampledLength; // 16384
inline constexpr int16_t kUpperBin = 1451;         // about 17004 Hz
inline constexpr float kFarFieldRadius = 1000.0f;  // radius of the elevation grid

// Suppression of the loudspeaker's direct path in one pair's correlation.
struct LoudspeakerSuppression {
    int16_t lagWidth;  // half width of the suppressed band, in lags
    int16_t lag;       // centre lag: where the loudspeaker appears
    float attenuation; // factor applied to the band
};

// The suppression band for a loudspeaker at `loudspeaker` heard by the pair
// (first, second): wider the more unequal the two paths are (capped at 0.05 m
// of path difference), weaker the farther the nearer microphone is.
LoudspeakerSuppression loudspeakerSuppression(const float *loudspeaker, const float *first, const float *second);

} // namespace voxaim

// Fills one pair record for microphones (first, second) of the active variant:
// indices, analysed band and loudspeaker suppression (none unless
// AttenuateLoudspeaker is set). lookupTable is left null.
void initializeSinglePair(MicrophonePair *pair, int16_t first, int16_t second);

// Fills Ranges, AzimuthAngles and ElevationAngles from MinimumAzimuth,
// MinimumElevation and AngleInterval.
void initializeGrids();

// Fills every pair's delay table block (through its lookupTable) from the
// grids and microphone positions: far-field (1000 m) azimuth/elevation cells
// for the elevation pairs, azimuth/range cells at elevation 0 for the azimuth
// pairs.
void initializeDelayTables();

// From the delay tables: every pair's window of lags (lagsAhead, lagsBehind,
// windowStart: the search computes the correlation only there and keeps it
// in CorrelationWindows), its QualityOffsets, and the grids' offset tables
// AzimuthElevationOffsets and AzimuthRangeOffsets.
void initializeLagOffsets();

#endif

#endif
