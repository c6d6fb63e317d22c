// Array geometry, grids and delay tables of the engine.
#include "functional/audio/voxaim/cmod/track/voxaim_geometry.h"

#include <algorithm>
#include <cassert>
#include <cmath>
#include <vector>

using namespace voxaim;

extern "C" void voxaim_sphericalToCartesian(const float *spherical, float *point)
{
    const float azimuth = spherical[0];
    const float elevation = spherical[1];
    const float radius = spherical[2];
    const float horizontal = radius * std::cos(elevation);
    point[0] = horizontal * std::cos(azimuth);
    point[1] = horizontal * std::sin(azimuth);
    point[2] = radius * std::sin(elevation);
}

extern "C" float voxaim_calculateDistance(const float *first, const float *second)
{
    const float dx = first[0] - second[0];
    const float dy = first[1] - second[1];
    const float dz = first[2] - second[2];
    return std::sqrt(dx * dx + dy * dy + dz * dz);
}

extern "C" int16_t voxaim_distanceToSampleDelay(float difference)
{
    float lags = difference * kLagsPerMetre;
    // Positions outside the valid angle range have NaN path differences; they
    // map to lag 0 on every target (a plain conversion would differ by CPU).
    if (!std::isfinite(lags))
        return 0;
    if (lags < 0.0f)
        lags += static_cast<float>(kLagCount);
    // Rounding can land exactly on 16384 (a tiny negative difference); the
    // wrap keeps every lag inside the correlation.
    float rounded = std::fmod(std::floor(lags + 0.5f), static_cast<float>(kLagCount));
    if (rounded < 0.0f)
        rounded += static_cast<float>(kLagCount);
    return static_cast<int16_t>(rounded);
}

extern "C" void voxaim_setCutoffCoefficients(const float *firstMicrophone, const float *secondMicrophone,
                                             int16_t *upperBin, int16_t *lowerBin)
{
    // 14.848 = 174 Hz-metres expressed in 4096-point bins (48000 / 4096 Hz each).
    const float spacing = voxaim_calculateDistance(firstMicrophone, secondMicrophone);
    *upperBin = kUpperBin;
    *lowerBin = static_cast<int16_t>(std::floor(14.848f / spacing + 0.5f));
}

LoudspeakerSuppression voxaim::loudspeakerSuppression(const float *loudspeaker, const float *first, const float *second)
{
    const float d1 = voxaim_calculateDistance(loudspeaker, first);
    const float d2 = voxaim_calculateDistance(loudspeaker, second);
    const float nearer = std::min(d1, d2);
    const float farther = std::max(d1, d2);
    const float width = std::min(-0.104f + 0.107f * farther / nearer, 0.05f);
    return {static_cast<int16_t>(std::floor(0.5f + width * kLagsPerMetre)), voxaim_distanceToSampleDelay(d1 - d2),
            std::max(0.4f * nearer, 0.1f)};
}

void initializeSinglePair(MicrophonePair *pair, int16_t first, int16_t second)
{
    pair->firstMicrophone = first;
    pair->secondMicrophone = second;
    pair->lookupTable = nullptr;
    const float *firstPosition = Microphones[first].data();
    const float *secondPosition = Microphones[second].data();
    voxaim_setCutoffCoefficients(firstPosition, secondPosition, &pair->upperBin, &pair->lowerBin);
    if (!AttenuateLoudspeaker) {
        pair->loudspeakerLagWidth = 0;
        pair->loudspeakerLag = 0;
        pair->loudspeakerAttenuation = 1.0f;
        return;
    }
    const LoudspeakerSuppression suppression =
        loudspeakerSuppression(Loudspeaker[0].data(), firstPosition, secondPosition);
    pair->loudspeakerLagWidth = suppression.lagWidth;
    pair->loudspeakerLag = suppression.lag;
    pair->loudspeakerAttenuation = suppression.attenuation;
}

namespace {

// asin in double precision of a sine computed in single precision; NaN where
// the sine leaves -1 ... 1.
float gridAngle(float minimumSine, int index)
{
    const float sine = minimumSine + static_cast<float>(index) * AngleInterval;
    return static_cast<float>(std::asin(static_cast<double>(sine)));
}

int16_t pairDelay(const float *position, const MicrophonePair &pair)
{
    const float toFirst = voxaim_calculateDistance(position, Microphones[pair.firstMicrophone].data());
    const float toSecond = voxaim_calculateDistance(position, Microphones[pair.secondMicrophone].data());
    return voxaim_distanceToSampleDelay(toFirst - toSecond);
}

} // namespace

void initializeGrids()
{
    for (int k = 0; k < kRangeCount; ++k)
        Ranges[k] = 0.5f + static_cast<float>(k) * 0.2f;
    for (int i = 0; i < kAzimuthCount; ++i)
        AzimuthAngles[i] = gridAngle(MinimumAzimuth, i);
    for (int j = 0; j < kElevationCount; ++j)
        ElevationAngles[j] = gridAngle(MinimumElevation, j);
}

void initializeDelayTables()
{
    // Each cell's position is computed once and serves every pair; the tables
    // are the same as when built pair by pair.
    float position[3];
    for (int j = 0; j < kElevationCount; ++j) {
        for (int i = 0; i < kAzimuthCount; ++i) {
            const float spherical[3] = {AzimuthAngles[i], ElevationAngles[j], kFarFieldRadius};
            voxaim_sphericalToCartesian(spherical, position);
            for (int32_t p = 0; p < NumberOfElevationPairs; ++p) {
                ElevationPairs[p].lookupTable[j * kAzimuthCount + i] = pairDelay(position, ElevationPairs[p]);
            }
        }
    }
    for (int k = 0; k < kRangeCount; ++k) {
        for (int i = 0; i < kAzimuthCount; ++i) {
            const float spherical[3] = {AzimuthAngles[i], 0.0f, Ranges[k]};
            voxaim_sphericalToCartesian(spherical, position);
            for (int32_t a = 0; a < NumberOfAzimuthPairs; ++a) {
                AzimuthPairs[a].lookupTable[k * kAzimuthCount + i] = pairDelay(position, AzimuthPairs[a]);
            }
        }
    }
}

namespace {

// A lag of the circular correlation as a signed lag: -8192 ... 8191.
int signedLag(int16_t entry)
{
    const int lag = static_cast<uint16_t>(entry) & (kLagCount - 1);
    return lag < kLagCount / 2 ? lag : lag - kLagCount;
}

// The pair's window and quality offsets; returns the next free element of
// CorrelationWindows.
int32_t placeWindow(MicrophonePair &pair, int cells, int32_t start, int32_t &qualityEnd)
{
    // Lag 0 is always inside: the padding of the offset tables points there.
    int ahead = 1, behind = 0;
    for (int i = 0; i < cells; ++i) {
        const int lag = signedLag(pair.lookupTable[i]);
        ahead = std::max(ahead, lag + 1);
        behind = std::max(behind, -lag);
    }
    std::vector<uint8_t> read(static_cast<std::size_t>(behind + ahead));
    for (int i = 0; i < cells; ++i)
        read[static_cast<std::size_t>(signedLag(pair.lookupTable[i]) + behind)] = 1;
    pair.lagsAhead = static_cast<int16_t>(ahead);
    pair.lagsBehind = static_cast<int16_t>(behind);
    pair.windowStart = start;
    pair.qualityStart = qualityEnd;
    for (int at = 0; at < behind + ahead; ++at)
        if (read[static_cast<std::size_t>(at)])
            QualityOffsets[qualityEnd++] = static_cast<uint32_t>(start + at) * sizeof(float);
    pair.qualityCount = qualityEnd - pair.qualityStart;
    return start + behind + ahead;
}

// One grid's offset table (groups of kGridGroup cells, pair after pair; the
// last group padded with the pair's first offset).
void fillOffsets(uint32_t *offsets, const MicrophonePair *pairs, int32_t count, int cells)
{
    for (int first = 0; first < cells; first += kGridGroup)
        for (int32_t p = 0; p < count; ++p) {
            const MicrophonePair &pair = pairs[p];
            const int zero = pair.windowStart + pair.lagsBehind; // lag 0's element
            for (int c = 0; c < kGridGroup; ++c, ++offsets) {
                const int lag = first + c < cells ? signedLag(pair.lookupTable[first + c]) : 0;
                *offsets = static_cast<uint32_t>(zero + lag) * sizeof(float);
            }
        }
}

} // namespace

void initializeLagOffsets()
{
    int32_t next = 0, qualityEnd = 0;
    for (int32_t p = 0; p < NumberOfElevationPairs; ++p)
        next = placeWindow(ElevationPairs[p], kAzimuthElevationCells, next, qualityEnd);
    for (int32_t a = 0; a < NumberOfAzimuthPairs; ++a)
        next = placeWindow(AzimuthPairs[a], kAzimuthRangeCells, next, qualityEnd);
    // Holds for every variant: each window spans at most the array's
    // largest path difference, a few hundred lags.
    assert(next <= static_cast<int32_t>(CorrelationWindows.size()));
    fillOffsets(AzimuthElevationOffsets.data(), ElevationPairs.data(), NumberOfElevationPairs, kAzimuthElevationCells);
    fillOffsets(AzimuthRangeOffsets.data(), AzimuthPairs.data(), NumberOfAzimuthPairs, kAzimuthRangeCells);
}
