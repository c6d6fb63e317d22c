// The NEON kernels against the portable ones on the same data (ARM builds;
// elsewhere there is only the portable version, which the engine tests
// cover). Exact where voxaim_kernels.h promises it, within a few units in
// the last place for the estimates.
#include "functional/audio/voxaim/cmod/track/voxaim_kernels.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <vector>

namespace {

using namespace voxaim;

#if defined(__ARM_NEON)

/* Normal floats of random sign and magnitude 2^-20 ... 2^20; every tenth
 * value 0. */
std::vector<float> randomFloats(size_t n, uint32_t seed)
{
    std::mt19937 random(seed);
    std::uniform_real_distribution<float> exponent(-20.0f, 20.0f), sign(-1.0f, 1.0f);
    std::vector<float> v(n);
    for (size_t i = 0; i < n; ++i)
        v[i] = i % 10 == 3 ? 0.0f : std::copysign(std::exp2(exponent(random)), sign(random));
    return v;
}

void expectClose(const std::vector<float> &neon, const std::vector<float> &portable, float relative)
{
    ASSERT_EQ(neon.size(), portable.size());
    for (size_t i = 0; i < neon.size(); ++i) {
        if (portable[i] == 0.0f)
            ASSERT_EQ(neon[i], 0.0f) << "element " << i;
        else
            ASSERT_NEAR(neon[i], portable[i], relative * std::fabs(portable[i])) << "element " << i;
    }
}

TEST(NeonKernels, ElementLoopsAreExactIncludingTheTails)
{
    const std::vector<float> a = randomFloats(4103, 1), b = randomFloats(4103, 2);
    for (size_t n : {4103u, 4096u, 7u, 1u}) {
        std::vector<float> mine(n), theirs(n);
        neon::scale(a.data(), 0.75f, mine.data(), n);
        portable::scale(a.data(), 0.75f, theirs.data(), n);
        EXPECT_EQ(mine, theirs);
        neon::multiply(a.data(), b.data(), mine.data(), n);
        portable::multiply(a.data(), b.data(), theirs.data(), n);
        EXPECT_EQ(mine, theirs);
        neon::multiplyConjugate(a.data(), b.data(), mine.data(), n);
        portable::multiplyConjugate(a.data(), b.data(), theirs.data(), n);
        EXPECT_EQ(mine, theirs) << n;
    }
}

TEST(NeonKernels, WeightsExactButForTheQuotient)
{
    std::vector<float> spectrum = randomFloats(2 * 4103, 3);
    spectrum[2] = 1e-4f; // power 1e-8: silent
    std::vector<float> noiseMine = randomFloats(4103, 4);
    for (float &n : noiseMine)
        n = std::fabs(n); // an estimate of power
    std::vector<float> noiseTheirs(noiseMine);
    std::vector<float> weightMine(4103), weightTheirs(4103);
    neon::trackNoiseAndWeights(spectrum, noiseMine, weightMine);
    portable::trackNoiseAndWeights(spectrum, noiseTheirs, weightTheirs);
    EXPECT_EQ(noiseMine, noiseTheirs);
    expectClose(weightMine, weightTheirs, 1e-6f);
}

TEST(NeonKernels, NumeratorSmoothingIsExact)
{
    std::vector<float> previous = randomFloats(kSpectrumFloats, 5);
    std::vector<uint8_t> countMine(kSpectrumBins), countTheirs(kSpectrumBins);
    for (int frame = 0; frame < 40; ++frame) {
        // Weights 0 ... 0.5 with runs of zeros, so that bins are held and cleared.
        std::vector<float> weightA = randomFloats(kSpectrumBins, 10 + frame), weightB(kSpectrumBins, 0.5f);
        for (int k = 0; k < kSpectrumBins; ++k)
            weightA[k] = (k / 7 + frame) % 3 == 0 ? 0.0f : std::fmin(std::fabs(weightA[k]), 0.5f);
        const std::vector<float> cross = randomFloats(kSpectrumFloats, 50 + frame);
        std::vector<float> mine(cross), theirs(cross);
        const float gain = frame % 5 == 4 ? 0.0f : 1.0f;
        const uint8_t limit = frame < 20 ? 35 : 2;
        const int lowerBin = 13 + frame;
        neon::smoothPairNumerator(mine, previous, countMine, weightA, weightB, lowerBin, 1451, gain, limit);
        portable::smoothPairNumerator(theirs, previous, countTheirs, weightA, weightB, lowerBin, 1451, gain, limit);
        ASSERT_EQ(mine, theirs) << "frame " << frame;
        ASSERT_EQ(countMine, countTheirs) << "frame " << frame;
        previous = mine;
    }
}

TEST(NeonKernels, PhaseTransformWithinAFewUnitsInTheLastPlace)
{
    std::vector<float> numerator = randomFloats(kSpectrumFloats, 6);
    numerator[20] = 1e-7f; // squared magnitude 1e-14 + rounding: at the threshold
    numerator[21] = 0.0f;
    numerator[22] = 0.9e-7f; // below it
    std::vector<float> mine(kFftScratchFloats, 9.0f), theirs(kFftScratchFloats, 9.0f);
    neon::phaseTransform(std::span<const float, kSpectrumFloats>(numerator.data(), kSpectrumFloats),
                         std::span<float, kFftScratchFloats>(mine.data(), kFftScratchFloats));
    portable::phaseTransform(std::span<const float, kSpectrumFloats>(numerator.data(), kSpectrumFloats),
                             std::span<float, kFftScratchFloats>(theirs.data(), kFftScratchFloats));
    expectClose(mine, theirs, 4e-7f);
}

TEST(NeonKernels, AccumulationAndBestCellAreExact)
{
    const std::vector<float> values = randomFloats(kUpsampledLength, 7);
    const std::span<const float, kUpsampledLength> correlation(values.data(), kUpsampledLength);
    std::mt19937 random(8);
    std::vector<int16_t> table(10896 + 5);
    for (int16_t &entry : table)
        entry = static_cast<int16_t>(random()); // masked into the correlation
    const std::vector<float> start = randomFloats(table.size(), 9);
    for (bool first : {true, false}) {
        std::vector<float> mine(start), theirs(start);
        const float bestMine = neon::accumulateCorrelation(correlation, table.data(), mine, first);
        const float bestTheirs = portable::accumulateCorrelation(correlation, table.data(), theirs, first);
        EXPECT_EQ(mine, theirs);
        EXPECT_EQ(bestMine, bestTheirs);
    }

    // Grids of 227 and of 5 columns; angles and rows without a value;
    // ties everywhere (values from a small set), a NaN value, a partial row.
    std::vector<float> cells(131 * 227 + 3);
    for (size_t i = 0; i < cells.size(); ++i)
        cells[i] = static_cast<float>(random() % 50);
    cells[900] = std::numeric_limits<float>::quiet_NaN();
    for (size_t columns : {227u, 5u}) {
        std::vector<float> azimuths(columns, 0.5f), rows((cells.size() + columns - 1) / columns, 0.1f);
        azimuths[0] = azimuths[columns - 1] = rows[0] = rows[3] = std::numeric_limits<float>::quiet_NaN();
        for (int round = 0; round < 3; ++round) {
            EXPECT_EQ(neon::bestCell(cells, azimuths, rows), portable::bestCell(cells, azimuths, rows));
            EXPECT_EQ(neon::bestCell(cells, azimuths, {}), portable::bestCell(cells, azimuths, {}));
            cells[portable::bestCell(cells, azimuths, rows)] = 0.0f; // the next maximum
        }
    }
    const std::vector<float> low(12, -std::numeric_limits<float>::max()), azimuths(4, 0.5f);
    EXPECT_EQ(neon::bestCell(low, azimuths, {}), portable::bestCell(low, azimuths, {}));
}

#else

TEST(NeonKernels, OnlyOnNeonBuilds) { GTEST_SKIP() << "no NEON on this target"; }

#endif

} // namespace
