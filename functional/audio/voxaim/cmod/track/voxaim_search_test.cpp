#include "functional/audio/voxaim/cmod/track/voxaim_search.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "functional/audio/voxaim/cmod/track/voxaim.h"
#include "functional/audio/voxaim/cmod/track/voxaim_internal.h"

namespace {

using namespace voxaim;

constexpr float NaN = std::numeric_limits<float>::quiet_NaN();

TEST(LagBand, SuppressionWrapsAcrossLagZero)
{
    std::vector<float> correlation(kUpsampledLength, 1.0f);
    suppressLagBand(correlation, 16383, 2, 0.25f);
    for (int m = 0; m < kUpsampledLength; ++m) {
        const bool inBand = m >= 16381 || m <= 1;
        EXPECT_EQ(correlation[m], inBand ? 0.25f : 1.0f) << "lag " << m;
    }
    std::vector<float> low(kUpsampledLength, 1.0f);
    suppressLagBand(low, 1, 3, 0.5f);
    EXPECT_EQ(low[16382], 0.5f);
    EXPECT_EQ(low[4], 0.5f);
    EXPECT_EQ(low[16381], 1.0f);
    EXPECT_EQ(low[5], 1.0f);
}

TEST(BestCell, LowestIndexWinsTies)
{
    const std::vector<float> azimuths(4, 0.1f);
    std::vector<float> cells{1, 3, 2, 3, 0, 3, 3, 1};
    EXPECT_EQ(bestCell(cells, azimuths, {}), 1);
    const std::vector<float> flat(8, -5.0f);
    EXPECT_EQ(bestCell(flat, azimuths, {}), 0);
}

TEST(BestCell, CellsWithoutAnAngleNeverWin)
{
    // Columns 0 and 3 have no azimuth, row 1 no elevation.
    const std::vector<float> azimuths{NaN, 0.1f, 0.2f, NaN};
    const std::vector<float> rows{0.0f, NaN, 0.3f};
    const std::vector<float> cells{9, 1, 2, 9, //
                                   9, 8, 8, 9, //
                                   9, 4, 3, 9};
    EXPECT_EQ(bestCell(cells, azimuths, rows), 9);
    EXPECT_EQ(bestCell(cells, azimuths, {}), 5);
}

TEST(RangePlateau, FarTalkerReportsTheMiddleOfThePlateau)
{
    std::vector<float> ranges(kRangeCount);
    for (int k = 0; k < kRangeCount; ++k)
        ranges[k] = 0.5f + k * 0.2f;
    std::vector<float> cells(kAzimuthRangeCells, 0.0f);
    const int column = 100;
    for (int row = 10; row < kRangeCount; ++row)
        cells[row * kAzimuthCount + column] = 2.0f + (row % 2) * 5e-8f;
    EXPECT_FLOAT_EQ(plateauRange(cells, 10 * kAzimuthCount + column, ranges), 6.2f);
    // A cell more than 1e-7 away ends the plateau.
    cells[20 * kAzimuthCount + column] = 2.0f + 2e-7f;
    EXPECT_FLOAT_EQ(plateauRange(cells, 10 * kAzimuthCount + column, ranges), (2.5f + 4.3f) / 2);
    // The last row has no plateau beyond it.
    EXPECT_FLOAT_EQ(plateauRange(cells, 47 * kAzimuthCount + column, ranges), 9.9f);
}

class UpsideDown : public ::testing::Test {
protected:
    void SetUp() override { BlockedCounter = 0; }
    const float elevation[3] = {2.0f, 2.0f, 0.5f};
    const float azimuth[3] = {0.5f, 0.5f, 0.5f}; // ratio 4 / 2 = 2.0
};

TEST_F(UpsideDown, MirelWithVoiceAndARatioAbove1_8IsUpsideDown)
{
    EXPECT_FALSE(panelUpright(0, 1, elevation, azimuth));
    EXPECT_EQ(BlockedCounter, 1);
    EXPECT_TRUE(panelUpright(0, 0, elevation, azimuth)); // no voice
    for (uint32_t type : {1u, 2u, 4u, 5u, 6u, 7u})
        EXPECT_TRUE(panelUpright(type, 1, elevation, azimuth)) << "type " << type;
    const float even[3] = {0.9f, 0.9f, 0.0f};
    const float one[3] = {0.25f, 0.25f, 0.5f}; // ratio exactly 1.8
    EXPECT_TRUE(panelUpright(0, 1, even, one));
    EXPECT_EQ(BlockedCounter, 1);
}

TEST_F(UpsideDown, WarnsOnEveryHundredthUpsideDownFrame)
{
    for (int round = 0; round < 2; ++round) {
        testing::internal::CaptureStderr();
        for (int n = 1; n < 100; ++n)
            panelUpright(0, 1, elevation, azimuth);
        EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
        testing::internal::CaptureStderr();
        panelUpright(0, 1, elevation, azimuth);
        EXPECT_EQ(testing::internal::GetCapturedStderr(),
                  "Warning: The front panel is most likely mounted upside down\n");
        EXPECT_EQ(BlockedCounter, 0);
    }
}

/* Engine-level checks on the numerators and accumulators of a variant. */
class Search : public ::testing::Test {
protected:
    void TearDown() override { voxaim_destroy(); }
    /* Every pair's numerator flat (1, 0) up to the band's end, zero above
     * it: each correlation peaks at lag 0. */
    static void flatNumerators()
    {
        const int pairs = NumberOfElevationPairs + NumberOfAzimuthPairs;
        for (int i = 0; i < pairs * kSpectrumBins; ++i) {
            CurrentNumerator[2 * i] = i % kSpectrumBins <= kCorrelationBand ? 1.0f : 0.0f;
            CurrentNumerator[2 * i + 1] = 0.0f;
        }
    }
    static std::vector<float> correlationOf(int32_t g)
    {
        const Correlation correlation = correlatePair(g);
        return std::vector<float>(correlation.begin(), correlation.end());
    }
};

TEST_F(Search, LoudspeakerIsSuppressedInAzimuthPairsOnly)
{
    voxaim_initialize(2); // lumo: the loudspeaker sits inside the array
    flatNumerators();
    // Correlations as they would be without suppression.
    AttenuateLoudspeaker = 0;
    std::vector<std::vector<float>> plain;
    for (int g = 0; g < NumberOfElevationPairs + NumberOfAzimuthPairs; ++g)
        plain.push_back(correlationOf(g));
    AttenuateLoudspeaker = 1;
    EXPECT_NEAR(plain[0][0], (2 * kCorrelationBand + 1) / 16384.0f, 1e-5f);
    // Only the lags a pair's table reads are computed.
    const auto computed = [](const MicrophonePair &pair, int m) {
        return m < pair.lagsAhead || m >= kUpsampledLength - pair.lagsBehind;
    };

    for (int p = 0; p < NumberOfElevationPairs; ++p) {
        ASSERT_NE(ElevationPairs[p].loudspeakerAttenuation, 1.0f); // constants exist ...
        const std::vector<float> again = correlationOf(p);         // ... unused
        for (int m = 0; m < kUpsampledLength; ++m) {
            if (!computed(ElevationPairs[p], m))
                continue;
            ASSERT_EQ(again[m], plain[p][m]) << "elevation pair " << p << " lag " << m;
        }
    }
    for (int a = 0; a < NumberOfAzimuthPairs; ++a) {
        const MicrophonePair &pair = AzimuthPairs[a];
        const int g = NumberOfElevationPairs + a;
        const std::vector<float> suppressed = correlationOf(g);
        for (int m = 0; m < kUpsampledLength; ++m) {
            if (!computed(pair, m))
                continue;
            const int distance =
                std::abs(((m - pair.loudspeakerLag + 8192 + kUpsampledLength) % kUpsampledLength) - 8192);
            const float expected =
                distance <= pair.loudspeakerLagWidth ? plain[g][m] * pair.loudspeakerAttenuation : plain[g][m];
            ASSERT_EQ(suppressed[m], expected) << "azimuth pair " << a << " lag " << m;
        }
    }
}

TEST_F(Search, CellsWithoutAnAzimuthNeverWin)
{
    voxaim_initialize(7); // brannt: grid azimuths 0 ... 4 and 223 ... 226 do not exist
    ASSERT_TRUE(std::isnan(AzimuthAngles[0]));
    ASSERT_EQ(AzimuthRangeLookupTable[0], 0);
    // Every correlation peaks at lag 0, where the cells without an azimuth
    // point as well; they come first in the grid.
    flatNumerators();
    FrameFlags flags;
    VoxaimResult result;
    searchPosition(flags, &result);
    EXPECT_FALSE(std::isnan(result.azimuth));
    EXPECT_FALSE(std::isnan(result.elevation));
    EXPECT_NEAR(result.azimuth, 0.0f, 3.0f); // broadside: no delay in any pair
}

TEST_F(Search, VariantWithoutElevationPairsReportsTheLowestElevation)
{
    voxaim_initialize(0); // mirel fills the elevation accumulator ...
    flatNumerators();
    FrameFlags flags;
    VoxaimResult result;
    searchPosition(flags, &result);
    voxaim_destroy();

    voxaim_initialize(6); // ... which feyla never writes
    flatNumerators();
    searchPosition(flags, &result);
    EXPECT_FLOAT_EQ(result.elevation, std::asin(-0.55f) * 57.2957763671875f);
    const int32_t q = bestCell(AzimuthRangeResult, AzimuthAngles, {});
    EXPECT_EQ(result.quality, AzimuthRangeResult[q]);
}

} // namespace
