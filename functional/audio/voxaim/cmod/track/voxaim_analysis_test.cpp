#include "functional/audio/voxaim/cmod/track/voxaim_analysis.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "functional/audio/voxaim/cmod/track/voxaim.h"
#include "functional/audio/voxaim/cmod/track/voxaim_internal.h"

namespace {

using namespace voxaim;

TEST(AnalysisHelpers, NormalisationScalesFullScaleToOne)
{
    std::vector<float> in(2 * kFrameLength + 1, 8388608.0f);
    in[1] = -4194304.0f;
    std::vector<float> out(in.size(), 7.0f);
    voxaim_normalizeInput(in.data(), out.data(), 24, 2);
    EXPECT_EQ(out[0], 1.0f);
    EXPECT_EQ(out[1], -0.5f);
    EXPECT_EQ(out[2 * kFrameLength - 1], 1.0f);
    EXPECT_EQ(out[2 * kFrameLength], 7.0f); // only channels x 2048 samples
}

TEST(AnalysisHelpers, DamagedSampleWidthsScaleWithoutOverflow)
{
    // A recording from the field can carry any width; the sanitizer build
    // stops on a signed overflow if the exponent is formed in 32 bits.
    std::vector<float> in(kFrameLength, 3.0f), out(kFrameLength, 7.0f);
    voxaim_normalizeInput(in.data(), out.data(), INT32_MIN, 1);
    EXPECT_TRUE(std::isinf(out[0]));
    voxaim_normalizeInput(in.data(), out.data(), INT32_MAX, 1);
    EXPECT_EQ(out[0], 0.0f);
    voxaim_normalizeInput(in.data(), out.data(), 1, 1);
    EXPECT_EQ(out[0], 3.0f);
}

TEST(AnalysisHelpers, ComplexConjugateProduct)
{
    const float a[4] = {1, 2, 0, 1}, b[4] = {3, 4, 0, 1};
    float out[4] = {};
    voxaim_multiplyWithComplexConjugate(a, b, out, 4);
    EXPECT_EQ(out[0], 11.0f); // (1 + 2i)(3 - 4i)
    EXPECT_EQ(out[1], 2.0f);
    EXPECT_EQ(out[2], 1.0f); // i * conj(i)
    EXPECT_EQ(out[3], 0.0f);
}

TEST(AnalysisHelpers, OverlapPutsThePreviousFrameFirst)
{
    std::vector<float> previous(2 * kFrameLength), current(2 * kFrameLength);
    for (int i = 0; i < 2 * kFrameLength; ++i) {
        previous[i] = static_cast<float>(i);
        current[i] = static_cast<float>(-i);
    }
    std::vector<float> block(2 * kBlockLength);
    voxaim_overlapInputChannels(block.data(), previous.data(), current.data(), 2);
    EXPECT_EQ(block[0], 0.0f);
    EXPECT_EQ(block[kFrameLength - 1], kFrameLength - 1.0f);
    EXPECT_EQ(block[kFrameLength + 5], -5.0f);
    EXPECT_EQ(block[kBlockLength], static_cast<float>(kFrameLength)); // channel 1 starts
    EXPECT_EQ(block[kBlockLength + kFrameLength], -static_cast<float>(kFrameLength));
}

TEST(AnalysisHelpers, VectorMultiply)
{
    const float a[3] = {1, 2, 3}, b[3] = {4, 5, 6};
    float out[4] = {0, 0, 0, 9};
    voxaim_vectorMultiply(a, b, out, 3);
    EXPECT_EQ(out[0], 4.0f);
    EXPECT_EQ(out[2], 18.0f);
    EXPECT_EQ(out[3], 9.0f);
}

/* One bin of power p (real part sqrt p) against a noise estimate n. */
std::pair<float, float> weigh(float p, float n)
{
    const float spectrum[2] = {std::sqrt(p), 0.0f};
    float noise = n, weight = -1.0f;
    trackNoiseAndWeights(spectrum, std::span<float>(&noise, 1), std::span<float>(&weight, 1));
    return {noise, weight};
}

TEST(NoiseAndWeights, EstimateRisesSlowlyFallsFastAndWeighsSpeech)
{
    const auto [n1, w1] = weigh(20.0f, 1.0f);
    EXPECT_NEAR(n1, 1.2683f, 1e-4f);
    EXPECT_EQ(w1, 0.5f); // 1.25 (20 - 11.415) / 20, capped
    const auto [n2, w2] = weigh(100.0f, 9.0f);
    EXPECT_NEAR(n2, 10.2851f, 1e-3f);
    EXPECT_NEAR(w2, 1.25f * (100.0f - 9.0f * 10.2851f) / 100.0f, 1e-4f);
    const auto [n3, w3] = weigh(0.5f, 1.0f);
    EXPECT_NEAR(n3, 1.0f - 0.5f * 0.59813082f, 1e-6f);
    EXPECT_EQ(w3, 0.0f); // within 9 times the floor
    const auto [n4, w4] = weigh(1e-8f, 0.0f);
    EXPECT_EQ(w4, 0.0f); // too little power, whatever the estimate
    EXPECT_GT(n4, 0.0f);
}

/* A pair's numerator state over all 2049 bins. */
struct PairBuffers {
    std::vector<float> current = std::vector<float>(kSpectrumFloats);
    std::vector<float> previous = std::vector<float>(kSpectrumFloats);
    std::vector<uint8_t> timeout = std::vector<uint8_t>(kSpectrumBins, 0);
    std::vector<float> weightA = std::vector<float>(kSpectrumBins, 0.5f);
    std::vector<float> weightB = std::vector<float>(kSpectrumBins, 0.5f);

    /* One frame: cross-spectrum (re, im) = (2, 4) everywhere, then smoothing;
     * the result becomes the previous numerator. */
    void frame(float gain, uint8_t limit, int lowerBin = 93)
    {
        for (int k = 0; k < kSpectrumBins; ++k) {
            current[2 * k] = 2.0f;
            current[2 * k + 1] = 4.0f;
        }
        smoothPairNumerator(current, previous, timeout, weightA, weightB, lowerBin, 1451, gain, limit);
        previous = current;
    }
};

TEST(NumeratorSmoothing, FollowsTheCrossSpectrumByTheSmallerWeight)
{
    PairBuffers pair;
    pair.weightB[500] = 0.25f;
    std::fill(pair.previous.begin(), pair.previous.end(), 1.0f);
    pair.frame(1.0f, 2);
    EXPECT_EQ(pair.current[2 * 100], 1.5f);     // 0.5 * 1 + 0.5 * 2
    EXPECT_EQ(pair.current[2 * 100 + 1], 2.5f); // 0.5 * 1 + 0.5 * 4
    EXPECT_EQ(pair.current[2 * 500], 1.25f);    // 0.75 * 1 + 0.25 * 2
    // The loop reaches upperBin + 1, where this frame's cross-spectrum was
    // cleared with the bins above the band: that bin only decays.
    EXPECT_EQ(pair.current[2 * 1452], 0.5f);
    for (int k : {0, 92, 1453, 2048})
        EXPECT_EQ(pair.current[2 * k], 0.0f) << "bin " << k;
    EXPECT_EQ(pair.current[2 * 93], 1.5f);
}

TEST(NumeratorSmoothing, WithoutGainHeldOneFrameClearedAfterTwo)
{
    PairBuffers pair;
    pair.frame(1.0f, 2);
    const float held = pair.current[2 * 200];
    ASSERT_EQ(held, 1.0f);
    pair.frame(0.0f, 2); // e.g. far-end speech
    EXPECT_EQ(pair.current[2 * 200], held);
    EXPECT_EQ(pair.timeout[200], 1);
    pair.frame(0.0f, 2);
    EXPECT_EQ(pair.current[2 * 200], 0.0f);
    EXPECT_EQ(pair.timeout[200], 0);
}

TEST(NumeratorSmoothing, NearEndSpeechHoldsFor34Frames)
{
    PairBuffers pair;
    pair.frame(1.0f, 35);
    std::fill(pair.weightA.begin(), pair.weightA.end(), 0.0f);
    for (int n = 1; n <= 34; ++n) {
        pair.frame(1.0f, 35);
        ASSERT_EQ(pair.current[2 * 300], 1.0f) << "frame " << n;
    }
    pair.frame(1.0f, 35);
    EXPECT_EQ(pair.current[2 * 300], 0.0f);
}

TEST(NumeratorSmoothing, PairWithLowerBinAboveTheBandStaysZero)
{
    PairBuffers pair;
    std::fill(pair.previous.begin(), pair.previous.end(), 1.0f);
    pair.frame(1.0f, 2, 1460);
    EXPECT_TRUE(std::all_of(pair.current.begin(), pair.current.end(), [](float v) { return v == 0.0f; }));
}

} // namespace
