// Position search: the second half of voxaim_calculate.
#include "functional/audio/voxaim/cmod/track/voxaim_search.h"

#include <algorithm>
#include <cmath>

#include "functional/audio/voxaim/cmod/track/voxaim_fft.h"
#include "functional/audio/voxaim/cmod/track/voxaim_geometry.h"
#include "functional/audio/voxaim/cmod/track/voxaim_kernels.h"
#include "platform/audio/audtest/eventlog.h"

namespace voxaim {
namespace {

constexpr float kPlateauTolerance = 1e-7f;
constexpr float kDegreesPerRadian = 57.2957763671875f;
constexpr float kUpsideDownRatio = 1.8f;
constexpr int32_t kWarnEveryBlocked = 100;

} // namespace

void suppressLagBand(std::span<float> correlation, int lag, int width, float attenuation)
{
    const int n = static_cast<int>(correlation.size());
    for (int m = lag - width; m <= lag + width; ++m)
        correlation[((m % n) + n) % n] *= attenuation;
}

Correlation correlatePair(int32_t g)
{
    const bool azimuthPair = g >= NumberOfElevationPairs;
    const MicrophonePair &pair = azimuthPair ? AzimuthPairs[g - NumberOfElevationPairs] : ElevationPairs[g];
    // The numerator is zero above bin upperBin + 1 (smoothPairNumerator), so
    // the phase transform and the inverse need only the band below it, and
    // the inverse only the lags that the pair's delay table reads.
    kernels().phaseTransform(CurrentNumerator.block(g).data(), FftInput.data(), kCorrelationBand + 1);
    voxaim_realIfftWindow(kUpsampledLength, FftInput.data(), kCorrelationBand, ATableUpsampled.data(),
                          BTableUpsampled.data(), CorrelationSpectrum.data(), FftOutput.data(), pair.lagsAhead,
                          pair.lagsBehind);
    // The loudspeaker's direct path is suppressed in the azimuth pairs only:
    // the elevation pairs see it at the same lag as a talker straight ahead.
    if (AttenuateLoudspeaker && azimuthPair)
        suppressLagBand(std::span<float>(FftOutput.data(), kUpsampledLength), pair.loudspeakerLag,
                        pair.loudspeakerLagWidth, pair.loudspeakerAttenuation);
    return Correlation(FftOutput.data(), kUpsampledLength);
}

float keepWindow(Correlation correlation, const MicrophonePair &pair)
{
    float *window = CorrelationWindows.data() + pair.windowStart;
    std::copy_n(correlation.end() - pair.lagsBehind, pair.lagsBehind, window);
    std::copy_n(correlation.begin(), pair.lagsAhead, window + pair.lagsBehind);
    return kernels().largestAt(CorrelationWindows.data(), QualityOffsets.data() + pair.qualityStart, pair.qualityCount);
}

int32_t bestCell(std::span<const float> accumulator, std::span<const float> azimuthAngles,
                 std::span<const float> rowAngles)
{
    return kernels().bestCell(accumulator, azimuthAngles, rowAngles);
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
    for (int32_t p = 0; p < NumberOfElevationPairs; ++p)
        ElevationQuality[p] = keepWindow(correlatePair(p), ElevationPairs[p]);
    for (int32_t a = 0; a < NumberOfAzimuthPairs; ++a)
        AzimuthQuality[a] = keepWindow(correlatePair(NumberOfElevationPairs + a), AzimuthPairs[a]);
    // Each cell sums the pairs' values in list order, the first pair's value
    // written, the others added (an elevation grid that no pair writes keeps
    // what it holds).
    if (NumberOfElevationPairs > 0)
        kernels().accumulateGrid(CorrelationWindows.data(), AzimuthElevationOffsets.data(), NumberOfElevationPairs,
                                 elevationCells);
    kernels().accumulateGrid(CorrelationWindows.data(), AzimuthRangeOffsets.data(), NumberOfAzimuthPairs, rangeCells);

    // A variant without elevation pairs never writes its elevation grid: its
    // best cell is the one found at initialisation.
    const int32_t elevationCell =
        NumberOfElevationPairs > 0 ? bestCell(elevationCells, AzimuthAngles, ElevationAngles) : UnwrittenElevationCell;
    const int32_t q = bestCell(rangeCells, AzimuthAngles, {});
    result->elevation = ElevationAngles[elevationCell / kAzimuthCount] * kDegreesPerRadian;
    result->azimuth = AzimuthAngles[q % kAzimuthCount] * kDegreesPerRadian;
    result->range = plateauRange(rangeCells, q, Ranges);
    result->quality = AzimuthRangeResult[q] + AzimuthElevationResult[elevationCell];

    flags.panelUpright = panelUpright(ProductType, flags.voiceActivity, ElevationQuality.data(), AzimuthQuality.data());

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
