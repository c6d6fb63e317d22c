// Every build of the engine's loops against the portable one on the same
// data: exact where voxaim_kernels.h promises it, within a few units in the
// last place for NEON's estimates. Lengths leave elements after the whole
// vectors, so the one-lane steps are compared too.
#include "functional/audio/voxaim/cmod/track/voxaim_kernels.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <string>
#include <vector>

namespace {

using namespace voxaim;

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

/* Exact, or within `relative` for a build that estimates. */
void expectClose(const std::vector<float> &mine, const std::vector<float> &portable, float relative)
{
    ASSERT_EQ(mine.size(), portable.size());
    for (size_t i = 0; i < mine.size(); ++i) {
        if (portable[i] == 0.0f || relative == 0.0f)
            ASSERT_EQ(mine[i], portable[i]) << "element " << i;
        else
            ASSERT_NEAR(mine[i], portable[i], relative * std::fabs(portable[i])) << "element " << i;
    }
}

struct Build {
    const Kernels *k;
    float estimate; // relative tolerance of the divisions and square roots
};

/* The builds other than the portable one, with the library's variants. */
std::vector<Build> builds()
{
    std::vector<Build> all;
    for (const dsplib::Variant &v : dsplib::variants())
        if (v.layer != dsplib::Layer::Portable)
            all.push_back({kernelsFor(v.layer), v.layer == dsplib::Layer::Neon ? 4e-7f : 0.0f});
    return all;
}

const Kernels &portable() { return *kernelsFor(dsplib::Layer::Portable); }

TEST(Kernels, TheEngineRunsTheWidestVariantsLayer)
{
    EXPECT_EQ(&kernels(), kernelsFor(dsplib::widestVariant().layer));
    EXPECT_STREQ(kernels().name, dsplib::widestVariant().name);
#if defined(__ARM_NEON)
    EXPECT_STREQ(kernels().name, "neon");
#endif
}

TEST(Kernels, ElementLoopsAndSplitStepsAreExact)
{
    const std::vector<float> a = randomFloats(4103, 1), b = randomFloats(4103, 2), c = randomFloats(4103, 3);
    for (const Build &build : builds()) {
        SCOPED_TRACE(build.k->name);
        for (size_t n : {4103u, 4096u, 7u, 1u}) {
            std::vector<float> mine(n), theirs(n);
            build.k->scale(a.data(), 0.75f, mine.data(), n);
            portable().scale(a.data(), 0.75f, theirs.data(), n);
            EXPECT_EQ(mine, theirs);
            build.k->multiply(a.data(), b.data(), mine.data(), n);
            portable().multiply(a.data(), b.data(), theirs.data(), n);
            EXPECT_EQ(mine, theirs);
            build.k->multiplyConjugate(a.data(), b.data(), mine.data(), n);
            portable().multiplyConjugate(a.data(), b.data(), theirs.data(), n);
            EXPECT_EQ(mine, theirs) << n;
        }
        for (int n : {2048, 1027}) {
            std::vector<float> mine(2 * n), theirs(2 * n);
            for (bool inverse : {false, true}) {
                (inverse ? build.k->splitInverse : build.k->splitForward)(n, a.data(), b.data(), c.data(), mine.data());
                (inverse ? portable().splitInverse : portable().splitForward)(n, a.data(), b.data(), c.data(),
                                                                              theirs.data());
                EXPECT_EQ(mine, theirs) << n << (inverse ? " inverse" : " forward");
            }
            std::vector<float> bandMine(2 * n, 9.0f), bandTheirs(2 * n, 9.0f);
            build.k->splitInverseBand(n, a.data(), 301, b.data(), c.data(), bandMine.data());
            portable().splitInverseBand(n, a.data(), 301, b.data(), c.data(), bandTheirs.data());
            EXPECT_EQ(bandMine, bandTheirs) << n;
        }
        std::vector<float> powersMine(1194), powersTheirs(1194);
        build.k->meanPowers(a.data(), b.data(), powersMine.data(), 1194);
        portable().meanPowers(a.data(), b.data(), powersTheirs.data(), 1194);
        EXPECT_EQ(powersMine, powersTheirs);
        build.k->binPowers(a.data(), powersMine.data(), 117);
        portable().binPowers(a.data(), powersTheirs.data(), 117);
        EXPECT_EQ(powersMine, powersTheirs);
    }
}

TEST(Kernels, WeightsAndLevelsExactButForTheEstimates)
{
    std::vector<float> spectrum = randomFloats(2 * 4103, 3);
    spectrum[2] = 1e-4f; // power 1e-8: silent
    std::vector<float> noise = randomFloats(4103, 4), slow = randomFloats(4103, 5);
    for (float &n : noise)
        n = std::fabs(n); // an estimate of power
    for (float &s : slow)
        s = std::fabs(s); // a level
    for (const Build &build : builds()) {
        SCOPED_TRACE(build.k->name);
        std::vector<float> noiseMine(noise), noiseTheirs(noise), weightMine(4103), weightTheirs(4103);
        build.k->trackNoiseAndWeights(spectrum, noiseMine, weightMine);
        portable().trackNoiseAndWeights(spectrum, noiseTheirs, weightTheirs);
        EXPECT_EQ(noiseMine, noiseTheirs);
        expectClose(weightMine, weightTheirs, build.estimate);

        const float gains[4] = {0.75f, 0.318309873f, 0.875f, 0.159154937f};
        std::vector<float> fastMine(noise), fastTheirs(noise), slowMine(slow), slowTheirs(slow);
        build.k->smoothLevels(spectrum.data(), spectrum.data() + 10, fastMine.data(), slowMine.data(), 2049, gains);
        portable().smoothLevels(spectrum.data(), spectrum.data() + 10, fastTheirs.data(), slowTheirs.data(), 2049,
                                gains);
        expectClose(fastMine, fastTheirs, build.estimate);
        expectClose(slowMine, slowTheirs, build.estimate);

        std::vector<float> levelMine(noise), levelTheirs(noise);
        build.k->followLevel(levelMine.data(), slow.data(), 2049, 0.0625f);
        portable().followLevel(levelTheirs.data(), slow.data(), 2049, 0.0625f);
        EXPECT_EQ(levelMine, levelTheirs);
        build.k->creepLevel(levelMine.data(), slow.data(), 2049, 2.38418579e-07f, 3.81469727e-06f);
        portable().creepLevel(levelTheirs.data(), slow.data(), 2049, 2.38418579e-07f, 3.81469727e-06f);
        EXPECT_EQ(levelMine, levelTheirs);
    }
}

TEST(Kernels, NumeratorSmoothingIsExact)
{
    for (const Build &build : builds()) {
        SCOPED_TRACE(build.k->name);
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
            build.k->smoothPairNumerator(mine, previous, countMine, weightA, weightB, lowerBin, 1451, gain, limit);
            portable().smoothPairNumerator(theirs, previous, countTheirs, weightA, weightB, lowerBin, 1451, gain,
                                           limit);
            ASSERT_EQ(mine, theirs) << "frame " << frame;
            ASSERT_EQ(countMine, countTheirs) << "frame " << frame;
            previous = mine;
        }
    }
}

TEST(Kernels, PhaseTransformWithinTheEstimate)
{
    std::vector<float> numerator = randomFloats(kSpectrumFloats, 6);
    numerator[20] = 1e-7f; // squared magnitude 1e-14 + rounding: at the threshold
    numerator[21] = 0.0f;
    numerator[22] = 0.9e-7f; // below it
    for (const Build &build : builds()) {
        SCOPED_TRACE(build.k->name);
        std::vector<float> mine(kSpectrumFloats, 9.0f), theirs(kSpectrumFloats, 9.0f);
        build.k->phaseTransform(numerator.data(), mine.data(), kSpectrumBins - 2);
        portable().phaseTransform(numerator.data(), theirs.data(), kSpectrumBins - 2);
        expectClose(mine, theirs, build.estimate);
        EXPECT_EQ(mine[kSpectrumFloats - 1], 9.0f); // the last bin is not written
    }
}

TEST(Kernels, AccumulationAndBestCellAreExact)
{
    const std::vector<float> values = randomFloats(16384, 7);
    std::mt19937 random(8);
    // Three pairs over 10896 + 5 cells: a last partial group.
    const int pairs = 3, cellCount = 10896 + 5, groups = (cellCount + kGridGroup - 1) / kGridGroup;
    std::vector<uint32_t> offsets(groups * pairs * kGridGroup);
    for (uint32_t &offset : offsets)
        offset = (random() & 16383) * sizeof(float);
    // Grids of 227 and of 5 columns; angles and rows without a value;
    // ties everywhere (values from a small set), a NaN value, a partial row.
    std::vector<float> cells(131 * 227 + 3);
    for (size_t i = 0; i < cells.size(); ++i)
        cells[i] = static_cast<float>(random() % 50);
    cells[900] = std::numeric_limits<float>::quiet_NaN();
    for (const Build &build : builds()) {
        SCOPED_TRACE(build.k->name);
        for (int used : {1, pairs}) {
            std::vector<float> mine(cellCount, 7.0f), theirs(cellCount, 7.0f);
            build.k->accumulateGrid(values.data(), offsets.data(), used, mine);
            portable().accumulateGrid(values.data(), offsets.data(), used, theirs);
            EXPECT_EQ(mine, theirs) << used << " pairs";
        }
        for (int count : {701, 3})
            EXPECT_EQ(build.k->largestAt(values.data(), offsets.data(), count),
                      portable().largestAt(values.data(), offsets.data(), count));
        std::vector<float> grid(cells);
        for (size_t columns : {227u, 5u}) {
            std::vector<float> azimuths(columns, 0.5f), rows((grid.size() + columns - 1) / columns, 0.1f);
            azimuths[0] = azimuths[columns - 1] = rows[0] = rows[3] = std::numeric_limits<float>::quiet_NaN();
            for (int round = 0; round < 3; ++round) {
                EXPECT_EQ(build.k->bestCell(grid, azimuths, rows), portable().bestCell(grid, azimuths, rows));
                EXPECT_EQ(build.k->bestCell(grid, azimuths, {}), portable().bestCell(grid, azimuths, {}));
                grid[portable().bestCell(grid, azimuths, rows)] = 0.0f; // the next maximum
            }
        }
        const std::vector<float> low(12, -std::numeric_limits<float>::max()), azimuths(4, 0.5f);
        EXPECT_EQ(build.k->bestCell(low, azimuths, {}), portable().bestCell(low, azimuths, {}));
    }
}

} // namespace
