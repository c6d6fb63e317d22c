// Geometry helpers, per-pair constants, grids and delay tables.
#include "functional/audio/voxaim/cmod/track/voxaim_geometry.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "functional/audio/voxaim/cmod/track/voxaim.h"
#include "functional/audio/voxaim/cmod/track/voxaim_variants.h"

using namespace voxaim;

namespace {

TEST(SampleDelay, RoundsAndWrapsPathDifferences)
{
    EXPECT_EQ(voxaim_distanceToSampleDelay(0.0f), 0);
    EXPECT_EQ(voxaim_distanceToSampleDelay(0.1f), 55);      // 55.17
    EXPECT_EQ(voxaim_distanceToSampleDelay(0.001f), 1);     // 0.55 rounds up
    EXPECT_EQ(voxaim_distanceToSampleDelay(-0.01f), 16378); // 16384 - 5.517
    // Just below zero rounds to 16384, which is lag 0 again.
    EXPECT_EQ(voxaim_distanceToSampleDelay(-0.0005f), 0);
    EXPECT_EQ(voxaim_distanceToSampleDelay(-0.0001f), 0);
    // Differences beyond one turn of the correlation still land inside it.
    EXPECT_EQ(voxaim_distanceToSampleDelay(-30.0f), 16216); // -16551.72 + 16384 -> -168
    EXPECT_EQ(voxaim_distanceToSampleDelay(40.0f), 5685);   // 22068.96 -> 22069 - 16384
}

TEST(SampleDelay, NonFiniteDifferencesGiveLagZero)
{
    EXPECT_EQ(voxaim_distanceToSampleDelay(std::numeric_limits<float>::quiet_NaN()), 0);
    EXPECT_EQ(voxaim_distanceToSampleDelay(-std::numeric_limits<float>::quiet_NaN()), 0);
    EXPECT_EQ(voxaim_distanceToSampleDelay(std::numeric_limits<float>::infinity()), 0);
    EXPECT_EQ(voxaim_distanceToSampleDelay(-std::numeric_limits<float>::infinity()), 0);
}

TEST(SampleDelay, EveryDifferenceOfAnArrayMapsIntoTheCorrelation)
{
    for (int step = -20000; step <= 20000; ++step) {
        const float d = static_cast<float>(step) * 1e-4f; // -2 m ... 2 m
        const int lag = voxaim_distanceToSampleDelay(d);
        ASSERT_GE(lag, 0) << d;
        ASSERT_LT(lag, 16384) << d;
        // Opposite differences give opposite lags (modulo the correlation length),
        // except where rounding sits on a half.
        const int opposite = voxaim_distanceToSampleDelay(-d);
        const float frac = std::fabs(d * kLagsPerMetre) - std::floor(std::fabs(d * kLagsPerMetre));
        if (std::fabs(frac - 0.5f) > 5e-3f) {
            ASSERT_EQ((lag + opposite) % 16384, 0) << d;
        }
    }
}

TEST(Geometry, SphericalPositionsAndDistances)
{
    float point[3];
    const float ahead[3] = {0.0f, 0.0f, 2.0f};
    voxaim_sphericalToCartesian(ahead, point);
    EXPECT_FLOAT_EQ(point[0], 2.0f);
    EXPECT_NEAR(point[1], 0.0f, 1e-7f);
    EXPECT_NEAR(point[2], 0.0f, 1e-7f);
    const float left[3] = {static_cast<float>(M_PI / 2), 0.0f, 3.0f}; // azimuth +90: +y
    voxaim_sphericalToCartesian(left, point);
    EXPECT_NEAR(point[0], 0.0f, 1e-6f);
    EXPECT_FLOAT_EQ(point[1], 3.0f);
    const float raised[3] = {0.3f, static_cast<float>(M_PI / 6), 4.0f}; // elevation 30
    voxaim_sphericalToCartesian(raised, point);
    EXPECT_FLOAT_EQ(point[2], 2.0f);
    const float origin[3] = {0.0f, 0.0f, 0.0f};
    EXPECT_FLOAT_EQ(voxaim_calculateDistance(point, origin), 4.0f);
    const float a[3] = {1.0f, 2.0f, 3.0f};
    const float b[3] = {4.0f, 6.0f, 3.0f};
    EXPECT_FLOAT_EQ(voxaim_calculateDistance(a, b), 5.0f);
    EXPECT_FLOAT_EQ(voxaim_calculateDistance(b, a), 5.0f);
}

TEST(Geometry, CutoffBinsFollowTheMicrophoneSpacing)
{
    int16_t upper = 0;
    int16_t lower = 0;
    const float a[3] = {0.0f, -0.08f, 0.0f};
    const float b[3] = {0.0f, 0.08f, 0.0f}; // 0.16 m
    voxaim_setCutoffCoefficients(a, b, &upper, &lower);
    EXPECT_EQ(upper, 1451);
    EXPECT_EQ(lower, 93);
    const VariantConfig &tovak = *findVariant(1); // pair (1, 5): 0.488 m
    voxaim_setCutoffCoefficients(tovak.microphones[1].data(), tovak.microphones[5].data(), &upper, &lower);
    EXPECT_EQ(upper, 1451);
    EXPECT_EQ(lower, 30);
}

TEST(Geometry, LoudspeakerSuppression)
{
    const float speaker[3] = {0.0f, 0.0f, 0.0f};
    const float left[3] = {0.0f, -0.2f, 0.0f};
    const float right[3] = {0.0f, 0.2f, 0.0f};
    // Equidistant: narrowest band (0.003 m), at lag 0, attenuation floor 0.1.
    LoudspeakerSuppression s = loudspeakerSuppression(speaker, left, right);
    EXPECT_EQ(s.lagWidth, 2);
    EXPECT_EQ(s.lag, 0);
    EXPECT_FLOAT_EQ(s.attenuation, 0.1f);
    const float farLeft[3] = {0.0f, -0.5f, 0.0f};
    const float farRight[3] = {0.0f, 0.5f, 0.0f};
    s = loudspeakerSuppression(speaker, farLeft, farRight);
    EXPECT_EQ(s.lagWidth, 2);
    EXPECT_FLOAT_EQ(s.attenuation, 0.2f); // 0.4 x 0.5
    // Unequal paths: width capped at 0.05 m (28 lags); the loudspeaker is
    // nearer the first microphone, so its lag is negative (top of the range).
    const float near[3] = {0.0f, 0.1f, 0.0f};
    const float far[3] = {0.0f, 0.3f, 0.0f};
    s = loudspeakerSuppression(speaker, near, far);
    EXPECT_EQ(s.lagWidth, 28);
    EXPECT_EQ(s.lag, 16274); // 16384 - 110.34
    EXPECT_FLOAT_EQ(s.attenuation, 0.1f);
    // Moderately unequal: -0.104 + 0.107 x 0.25 / 0.2 = 0.02975 m -> 16 lags.
    const float a[3] = {0.0f, 0.2f, 0.0f};
    const float b[3] = {0.0f, -0.25f, 0.0f};
    s = loudspeakerSuppression(speaker, a, b);
    EXPECT_EQ(s.lagWidth, 16);
    EXPECT_EQ(s.lag, 16356); // 0.05 m nearer the first: 16384 - 27.59
}

class TablesTest : public ::testing::Test {
protected:
    void TearDown() override { voxaim_destroy(); }
};

TEST_F(TablesTest, PairsSuppressTheLoudspeakerOnlyWhereTheVariantAsksForIt)
{
    voxaim_initialize(0); // mirel: off
    for (int32_t a = 0; a < NumberOfAzimuthPairs; ++a) {
        EXPECT_EQ(AzimuthPairs[a].loudspeakerLagWidth, 0);
        EXPECT_EQ(AzimuthPairs[a].loudspeakerLag, 0);
        EXPECT_EQ(AzimuthPairs[a].loudspeakerAttenuation, 1.0f);
    }
    voxaim_destroy();
    voxaim_initialize(2); // lumo: on, loudspeaker at (0.0028, 0.067, 0)
    // Azimuth pair 2 is (1, 0): microphones at y = 0.17 and y = 0.33.
    const MicrophonePair &pair = AzimuthPairs[2];
    // Loudspeaker to microphone 1: 0.1074 m, to microphone 0: 0.2648 m.
    EXPECT_NEAR(voxaim_calculateDistance(Loudspeaker[0].data(), Microphones[1].data()), 0.1074f, 1e-3f);
    EXPECT_EQ(pair.loudspeakerLagWidth, 28);            // far / near = 2.47: capped at 0.05 m
    EXPECT_EQ(pair.loudspeakerLag, 16297);              // nearer the first microphone: 16384 - 86.8
    EXPECT_FLOAT_EQ(pair.loudspeakerAttenuation, 0.1f); // 0.4 x 0.107 = 0.043, floored
    for (int32_t p = 0; p < NumberOfElevationPairs; ++p) {
        EXPECT_GE(ElevationPairs[p].loudspeakerLagWidth, 2);
        EXPECT_LE(ElevationPairs[p].loudspeakerLagWidth, 28);
        EXPECT_GE(ElevationPairs[p].loudspeakerAttenuation, 0.1f);
        EXPECT_LT(ElevationPairs[p].loudspeakerAttenuation, 1.0f);
    }
}

TEST_F(TablesTest, GridsAreUniformInTheSineOfTheAngle)
{
    voxaim_initialize(0); // mirel
    EXPECT_FLOAT_EQ(Ranges[0], 0.5f);
    EXPECT_FLOAT_EQ(Ranges[1], 0.7f);
    EXPECT_FLOAT_EQ(Ranges[47], 9.9f);
    EXPECT_NEAR(AzimuthAngles[0], std::asin(-0.905), 1e-6);
    EXPECT_NEAR(AzimuthAngles[226], std::asin(0.903), 1e-6);
    EXPECT_NEAR(ElevationAngles[0], std::asin(-0.52), 1e-6);
    EXPECT_NEAR(ElevationAngles[130], std::asin(0.52), 1e-6);
    EXPECT_NEAR(ElevationAngles[65], 0.0f, 1e-6f);
    for (int i = 1; i < 227; ++i) {
        ASSERT_GT(AzimuthAngles[i], AzimuthAngles[i - 1]);
        ASSERT_NEAR(std::sin(AzimuthAngles[i]) - std::sin(AzimuthAngles[i - 1]), 0.008f, 1e-5f);
    }
    voxaim_destroy();
    voxaim_initialize(2); // lumo: a lopsided elevation range
    EXPECT_NEAR(ElevationAngles[0], std::asin(-0.65), 1e-6);
    EXPECT_NEAR(ElevationAngles[130], std::asin(0.182), 1e-6);
    EXPECT_NEAR(AzimuthAngles[226], std::asin(0.7264), 1e-6);
}

// Lag of a grid cell computed independently in double precision.
int referenceLag(double azimuth, double elevation, double radius, const Point &first, const Point &second)
{
    const double x = radius * std::cos(elevation) * std::cos(azimuth);
    const double y = radius * std::cos(elevation) * std::sin(azimuth);
    const double z = radius * std::sin(elevation);
    auto distance = [&](const Point &m) {
        return std::sqrt((x - m[0]) * (x - m[0]) + (y - m[1]) * (y - m[1]) + (z - m[2]) * (z - m[2]));
    };
    const double lags = (distance(first) - distance(second)) * 551.72412109375;
    return static_cast<int>(std::lround(std::floor(lags + 0.5))) & 16383;
}

int circularGap(int a, int b)
{
    const int gap = std::abs(a - b) % 16384;
    return std::min(gap, 16384 - gap);
}

TEST_F(TablesTest, DelayTablesMatchAnIndependentComputationForEveryVariant)
{
    for (const VariantConfig &variant : kVariants) {
        SCOPED_TRACE(variant.name);
        voxaim_initialize(variant.type);
        int worst = 0;
        for (int32_t p = 0; p < NumberOfElevationPairs; ++p) {
            const MicrophonePair &pair = ElevationPairs[p];
            const Point &first = variant.microphones[variant.elevationPairs[p].first];
            const Point &second = variant.microphones[variant.elevationPairs[p].second];
            // Every third elevation row (and the last): enough to catch a misplaced
            // row or column, at a third of the cost under emulation.
            for (int j = 0; j < 131; j = (j == 129 ? 130 : j + 3)) {
                for (int i = 0; i < 227; ++i) {
                    if (std::isnan(AzimuthAngles[i]))
                        continue;
                    const int expected = referenceLag(AzimuthAngles[i], ElevationAngles[j], 1000.0, first, second);
                    worst = std::max(worst, circularGap(pair.lookupTable[j * 227 + i], expected));
                }
            }
        }
        for (int32_t a = 0; a < NumberOfAzimuthPairs; ++a) {
            const MicrophonePair &pair = AzimuthPairs[a];
            const Point &first = variant.microphones[variant.azimuthPairs[a].first];
            const Point &second = variant.microphones[variant.azimuthPairs[a].second];
            for (int k = 0; k < 48; ++k) {
                for (int i = 0; i < 227; ++i) {
                    if (std::isnan(AzimuthAngles[i]))
                        continue;
                    const int expected = referenceLag(AzimuthAngles[i], 0.0, Ranges[k], first, second);
                    worst = std::max(worst, circularGap(pair.lookupTable[k * 227 + i], expected));
                }
            }
        }
        // Single-precision distances at 1000 m are good to a fraction of a lag.
        EXPECT_LE(worst, 1);
        voxaim_destroy();
    }
}

TEST_F(TablesTest, FarFieldDelaysAreComputedInSinglePrecision)
{
    // Cells whose single-precision path difference (positions 1000 m away,
    // distances good to about 0.03 lags) rounds to a different lag than the
    // exact one: computing the table in double precision gives the neighbour.
    struct Cell {
        uint32_t type;
        int pair, elevation, azimuth;
        int16_t lag; // single precision; double precision gives lag -/+ 1
    };
    for (const Cell &cell : {Cell{0, 2, 48, 21, 16203}, Cell{1, 3, 6, 202, 125}, Cell{2, 1, 14, 210, 66}}) {
        SCOPED_TRACE(cell.type);
        voxaim_initialize(cell.type);
        EXPECT_EQ(ElevationPairs[cell.pair].lookupTable[cell.elevation * 227 + cell.azimuth], cell.lag);
        voxaim_destroy();
    }
}

TEST_F(TablesTest, LagSignFollowsTheFirstMicrophone)
{
    voxaim_initialize(6); // feyla azimuth pair 0 is (2, 1): microphone 2 at y = +0.1
    const int16_t *table = AzimuthPairs[0].lookupTable;
    // At 0.5 m and azimuth -56 deg (toward -y) the talker is farther from the
    // first microphone: positive lag (about 81).
    EXPECT_GT(table[0], 50);
    EXPECT_LT(table[0], 8192);
    // At azimuth +56 deg it is nearer the first microphone: negative lag.
    EXPECT_GT(table[226], 8192);
    EXPECT_LT(table[226], 16384 - 50);
}

TEST_F(TablesTest, BranntCellsOutsideTheSineRangeAreNanWithLagZero)
{
    voxaim_initialize(7);
    for (int i = 0; i < 227; ++i) {
        const bool outside = i <= 4 || i >= 223;
        EXPECT_EQ(std::isnan(AzimuthAngles[i]), outside) << i;
    }
    for (int j = 0; j < 131; ++j)
        EXPECT_FALSE(std::isnan(ElevationAngles[j])) << j;
    for (int32_t p = 0; p < NumberOfElevationPairs; ++p) {
        for (int j = 0; j < 131; ++j) {
            for (int i : {0, 1, 2, 3, 4, 223, 224, 225, 226}) {
                ASSERT_EQ(ElevationPairs[p].lookupTable[j * 227 + i], 0) << p << " " << j << " " << i;
            }
        }
    }
    for (int32_t a = 0; a < NumberOfAzimuthPairs; ++a) {
        for (int k = 0; k < 48; ++k) {
            for (int i : {0, 1, 2, 3, 4, 223, 224, 225, 226}) {
                ASSERT_EQ(AzimuthPairs[a].lookupTable[k * 227 + i], 0) << a << " " << k << " " << i;
            }
            // The first valid cell (azimuth about -87 deg) has a real, non-zero lag.
            EXPECT_NE(AzimuthPairs[a].lookupTable[k * 227 + 5], 0);
        }
    }
}

} // namespace
