// Position search: the second half of voxaim_calculate.
#include "functional/audio/voxaim/cmod/track/voxaim_search.h"

#include <algorithm>
#include <cmath>

#include "functional/audio/voxaim/cmod/track/voxaim_fft.h"
#include "platform/audio/audtest/eventlog.h"

namespace voxaim {
namespace {

constexpr float kSmallestMagnitude = 1e-14f;
constexpr float kLowest = -3.4028235e38f;
constexpr float kPlateauTolerance = 1e-7f;
constexpr float kDegreesPerRadian = 57.2957763671875f;
constexpr float kUpsideDownRatio = 1.8f;
constexpr int32_t kWarnEveryBlocked = 100;

/* Phase transform: every bin of the pair's numerator scaled to unit
 * magnitude (zero when it has none) into FftOutput, whose bins above 2047
 * stay zero so that the inverse transform interpolates four times. */
void phaseTransform(const float *numerator)
{
    for (int k = 0; k < kSpectrumBins - 1; ++k) {
        const float re = numerator[2 * k], im = numerator[2 * k + 1];
        const float m = re * re + im * im;
        const bool carries = m > kSmallestMagnitude;
        const float norm = std::sqrt(m);
        FftOutput[2 * k] = carries ? re / norm : 0.0f;
        FftOutput[2 * k + 1] = carries ? im / norm : 0.0f;
    }
    // Bin 2048 and everything above stay zero.
    std::fill(FftOutput.begin() + 2 * (kSpectrumBins - 1), FftOutput.end(), 0.0f);
}

/* Adds (or, for the first pair of a list, writes) the correlation at every
 * cell's lag into the accumulator; returns the pair's largest value. */
template <bool First>
float accumulateInto(const int16_t *__restrict lookupTable, float *__restrict cells, size_t n)
{
    // Two partial maxima keep the comparisons out of one dependency chain.
    const float *__restrict correlation = FftOutput.data();
    float best0 = kLowest, best1 = kLowest;
    size_t i = 0;
    for (; i + 2 <= n; i += 2) {
        const float v0 = correlation[static_cast<uint16_t>(lookupTable[i]) & (kUpsampledLength - 1)];
        const float v1 = correlation[static_cast<uint16_t>(lookupTable[i + 1]) & (kUpsampledLength - 1)];
        cells[i] = First ? v0 : cells[i] + v0;
        cells[i + 1] = First ? v1 : cells[i + 1] + v1;
        best0 = std::max(best0, v0);
        best1 = std::max(best1, v1);
    }
    for (; i < n; ++i) {
        const float v = correlation[static_cast<uint16_t>(lookupTable[i]) & (kUpsampledLength - 1)];
        cells[i] = First ? v : cells[i] + v;
        best0 = std::max(best0, v);
    }
    return std::max(best0, best1);
}

float accumulate(const int16_t *lookupTable, std::span<float> accumulator, bool first)
{
    return first ? accumulateInto<true>(lookupTable, accumulator.data(), accumulator.size())
                 : accumulateInto<false>(lookupTable, accumulator.data(), accumulator.size());
}

bool hasAngle(std::span<const float> angles, size_t index) { return angles.empty() || !std::isnan(angles[index]); }

} // namespace

void suppressLagBand(std::span<float> correlation, int lag, int width, float attenuation)
{
    const int n = static_cast<int>(correlation.size());
    for (int m = lag - width; m <= lag + width; ++m)
        correlation[((m % n) + n) % n] *= attenuation;
}

void correlatePair(int32_t g)
{
    const bool azimuthPair = g >= NumberOfElevationPairs;
    const MicrophonePair &pair = azimuthPair ? AzimuthPairs[g - NumberOfElevationPairs] : ElevationPairs[g];
    phaseTransform(CurrentNumerator + g * kSpectrumFloats);
    voxaim_realIfft(kUpsampledLength, FftOutput.data(), TwiddleFactorsUpsampled.data(), FftInput.data(), 2,
                    ATableUpsampled.data(), BTableUpsampled.data());
    // The loudspeaker's direct path is suppressed in the azimuth pairs only:
    // the elevation pairs see it at the same lag as a talker straight ahead.
    if (AttenuateLoudspeaker && azimuthPair)
        suppressLagBand(std::span<float>(FftOutput.data(), kUpsampledLength), pair.loudspeakerLag,
                        pair.loudspeakerLagWidth, pair.loudspeakerAttenuation);
}

int32_t bestCell(std::span<const float> accumulator, std::span<const float> azimuthAngles,
                 std::span<const float> rowAngles)
{
    const size_t columns = azimuthAngles.size();
    float best = kLowest;
    int32_t index = 0;
    for (size_t cell = 0; cell < accumulator.size(); ++cell) {
        if (accumulator[cell] > best && hasAngle(azimuthAngles, cell % columns) &&
            hasAngle(rowAngles, cell / columns)) {
            best = accumulator[cell];
            index = static_cast<int32_t>(cell);
        }
    }
    return index;
}

float plateauRange(std::span<const float> accumulator, int32_t q, std::span<const float> ranges)
{
    const size_t columns = accumulator.size() / ranges.size();
    const float peak = accumulator[q];
    const float nearest = ranges[q / columns];
    float farthest = nearest;
    for (size_t cell = q + columns; cell < accumulator.size(); cell += columns) {
        if (!(std::fabs(accumulator[cell] - peak) <= kPlateauTolerance))
            break;
        farthest = ranges[cell / columns];
    }
    return (nearest + farthest) * 0.5f;
}

bool panelUpright(uint32_t productType, uint8_t voiceActivity, const float *elevationQuality,
                  const float *azimuthQuality)
{
    if (productType != 0 || !voiceActivity)
        return true;
    const float vertical = elevationQuality[0] + elevationQuality[1];
    const float others = azimuthQuality[0] + azimuthQuality[1] + azimuthQuality[2] + elevationQuality[2];
    if (!(vertical / others > kUpsideDownRatio))
        return true;
    if (++BlockedCounter % kWarnEveryBlocked == 0) {
        eventlog("Warning: The front panel is most likely mounted upside down\n");
        BlockedCounter = 0;
    }
    return false;
}

void searchPosition(FrameFlags &flags, VoxaimResult *result)
{
    const std::span<float> elevationCells(AzimuthElevationResult);
    const std::span<float> rangeCells(AzimuthRangeResult);
    for (int32_t p = 0; p < NumberOfElevationPairs; ++p) {
        correlatePair(p);
        ElevationQuality[p] = accumulate(ElevationPairs[p].lookupTable, elevationCells, p == 0);
    }
    for (int32_t a = 0; a < NumberOfAzimuthPairs; ++a) {
        correlatePair(NumberOfElevationPairs + a);
        AzimuthQuality[a] = accumulate(AzimuthPairs[a].lookupTable, rangeCells, a == 0);
    }

    const int32_t elevationCell = bestCell(elevationCells, AzimuthAngles, ElevationAngles);
    const int32_t q = bestCell(rangeCells, AzimuthAngles, {});
    result->elevation = ElevationAngles[elevationCell / kAzimuthCount] * kDegreesPerRadian;
    result->azimuth = AzimuthAngles[q % kAzimuthCount] * kDegreesPerRadian;
    result->range = plateauRange(rangeCells, q, Ranges);
    result->quality = AzimuthRangeResult[q] + AzimuthElevationResult[elevationCell];

    voxaim_overlapInputChannels(InputAudio, PreviousRawAudioInput, CurrentRawAudioInput, NumberOfChannels);
    flags.panelUpright = panelUpright(ProductType, flags.voiceActivity, ElevationQuality, AzimuthQuality);

    uint32_t word = 0;
    voxaim_setFlag(VOXAIM_OUT_VOICE_ACTIVITY, flags.voiceActivity, &word);
    voxaim_setFlag(VOXAIM_OUT_TIME_DOMAIN_ANSWER, flags.timeDomainAnswer, &word);
    voxaim_setFlag(VOXAIM_OUT_SOUND_ACTIVITY, flags.soundActivity, &word);
    voxaim_setFlag(VOXAIM_OUT_FAR_END_ACTIVITY, flags.farEnd, &word);
    voxaim_setFlag(VOXAIM_OUT_NOISE_HOLD, flags.noiseHold, &word);
    voxaim_setFlag(VOXAIM_OUT_ULTRASOUND_DISTORTION, flags.ultraSoundDistortion, &word);
    voxaim_setFlag(VOXAIM_OUT_PANEL_UPRIGHT, flags.panelUpright, &word);
    result->flags = word;
}

} // namespace voxaim

/* Read-only view of a search grid for tuning tools: the same accumulators
 * and the same choice (bestCell) as searchPosition. */
int voxaim_getSearchMap(uint32_t grid, VoxaimSearchMap *map)
{
    using namespace voxaim;
    const bool elevationGrid = grid == VOXAIM_GRID_AZIMUTH_ELEVATION;
    if (!IsTransducersInitialized || map == nullptr || grid > VOXAIM_GRID_AZIMUTH_RANGE ||
        (elevationGrid && NumberOfElevationPairs == 0))
        return 0;
    const std::span<const float> cells =
        elevationGrid ? std::span<const float>(AzimuthElevationResult) : std::span<const float>(AzimuthRangeResult);
    const std::span<const float> rows =
        elevationGrid ? std::span<const float>(ElevationAngles) : std::span<const float>(Ranges);
    map->power = cells.data();
    map->azimuths = AzimuthAngles.data();
    map->rows = rows.data();
    map->columnCount = kAzimuthCount;
    map->rowCount = static_cast<int32_t>(rows.size());
    map->chosen = bestCell(cells, AzimuthAngles, elevationGrid ? rows : std::span<const float>());
    return 1;
}
