#include "functional/audio/voxaim/cmod/track/NoiseLevelEstimation.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace {

constexpr int Bins = 2049;
constexpr int Channels = 4;

/* A spectrum whose bins 4 ... 1023 all have magnitude m in channels first
 * and second (zero elsewhere). */
std::vector<float> flatSpectrum(float m, int first = 1, int second = 2)
{
    std::vector<float> s(Channels * 2 * Bins, 0.0f);
    for (int ch : {first, second})
        for (int k = 4; k < 1024; ++k)
            s[ch * 2 * Bins + 2 * k] = m;
    return s;
}

enum class Update { Fast, Slow };

/* Runs one frame and tells whether bin k of NoiseLevel took the fast update
 * (1/16 of the gap to SlowLevel) or one of the slow ones (2^-22 or 2^-18 of
 * it; the two slow rates are told apart in a test of their own). */
Update step(const std::vector<float> &spectrum, int k = 100)
{
    const float before = noiseLevelState().NoiseLevel[k];
    calculateNoiseLevel(spectrum.data(), 0);
    const float gap = noiseLevelState().SlowLevel[k] - before;
    const float fraction = (noiseLevelState().NoiseLevel[k] - before) / gap;
    EXPECT_TRUE(std::fabs(fraction - 0.0625f) < 1e-3f || std::fabs(fraction) < 1e-5f) << fraction;
    return std::fabs(fraction - 0.0625f) < 1e-3f ? Update::Fast : Update::Slow;
}

class NoiseLevelEstimation : public ::testing::Test {
protected:
    void SetUp() override
    {
        setNoiseLevelChannels(1, 2);
        intializeNoiseLevel();
    }
    /* A level rising 20 % per frame: never steady, never below the estimate. */
    Update rampFrame()
    {
        level *= 1.2f;
        return step(flatSpectrum(level));
    }
    float level = 1.0f;
};

TEST_F(NoiseLevelEstimation, FollowsFastForTheFirst39FramesThenCreeps)
{
    for (int frame = 1; frame <= 39; ++frame) {
        const float before = noiseLevelState().NoiseLevel[100];
        ASSERT_EQ(rampFrame(), Update::Fast) << "frame " << frame;
        const float expected = before + 0.0625f * (noiseLevelState().SlowLevel[100] - before);
        EXPECT_FLOAT_EQ(noiseLevelState().NoiseLevel[100], expected);
        EXPECT_EQ(noiseLevelState().NoiseCountFromBoot, 40 - frame);
    }
    for (int frame = 40; frame <= 45; ++frame)
        EXPECT_EQ(rampFrame(), Update::Slow) << "frame " << frame;
}

TEST_F(NoiseLevelEstimation, HoldChangesNothing)
{
    for (int frame = 0; frame < 10; ++frame)
        rampFrame();
    const NoiseLevelState before = noiseLevelState();
    const std::vector<float> loud = flatSpectrum(1e6f);
    for (int frame = 0; frame < 3; ++frame) {
        EXPECT_EQ(calculateNoiseLevel(loud.data(), 1), noiseLevelState().NoiseLevel.data());
        EXPECT_EQ(noiseLevelState().NoiseLevel, before.NoiseLevel);
        EXPECT_EQ(noiseLevelState().SlowLevel, before.SlowLevel);
        EXPECT_EQ(noiseLevelState().FastLevel, before.FastLevel);
        EXPECT_EQ(noiseLevelState().NoiseCountFromBoot, before.NoiseCountFromBoot);
        EXPECT_EQ(noiseLevelState().NoiseDetectionCounter, before.NoiseDetectionCounter);
        EXPECT_EQ(noiseLevelState().NoiseAmplification, before.NoiseAmplification);
    }
}

TEST_F(NoiseLevelEstimation, ReadsOnlyTheSelectedChannels)
{
    setNoiseLevelChannels(0, 3);
    const std::vector<float> elsewhere = flatSpectrum(5.0f, 1, 2);
    calculateNoiseLevel(elsewhere.data(), 0);
    EXPECT_EQ(noiseLevelState().SlowLevel[100], 0.0f);
    const std::vector<float> selected = flatSpectrum(5.0f, 0, 3);
    calculateNoiseLevel(selected.data(), 0);
    // Magnitude 5 in both channels: the slow level takes 1/(2 pi) of it.
    EXPECT_FLOAT_EQ(noiseLevelState().SlowLevel[100], 0.159154937f * 5.0f);
    EXPECT_FLOAT_EQ(noiseLevelState().FastLevel[100], 0.318309873f * 5.0f);
}

TEST_F(NoiseLevelEstimation, RisesAndFallsAtTheTwoSlowRates)
{
    // Bins 1200 and 1500 lie outside the band that decides the mode, which
    // keeps rising. Bin 1200 is quiet during start-up and then jumps far
    // above its estimate; bin 1500 is loud during start-up and then drops
    // to zero.
    auto frame = [&](float at1200, float at1500) {
        level *= 1.2f;
        std::vector<float> s = flatSpectrum(level);
        for (int ch : {1, 2}) {
            s[ch * 2 * Bins + 2 * 1200] = at1200;
            s[ch * 2 * Bins + 2 * 1500] = at1500;
        }
        return s;
    };
    for (int n = 1; n <= 39; ++n)
        ASSERT_EQ(step(frame(1.0f, 1e5f)), Update::Fast);
    for (int n = 0; n < 35; ++n) {
        const float rising = noiseLevelState().NoiseLevel[1200];
        const float falling = noiseLevelState().NoiseLevel[1500];
        EXPECT_EQ(step(frame(1e6f, 0.0f)), Update::Slow);
        const NoiseLevelState &st = noiseLevelState();
        EXPECT_GT(st.SlowLevel[1200], rising);
        EXPECT_NEAR((st.NoiseLevel[1200] - rising) / (st.SlowLevel[1200] - rising), std::ldexp(1.0, -22),
                    std::ldexp(1.0, -22) * 1e-3);
        if (n < 30)
            continue; // until the slow level has decayed the step is too fine for a float
        EXPECT_LT(st.SlowLevel[1500], falling);
        EXPECT_NEAR((st.NoiseLevel[1500] - falling) / (st.SlowLevel[1500] - falling), std::ldexp(1.0, -18),
                    std::ldexp(1.0, -18) * 0.05);
    }
}

/* Brings the estimate to a steady level m after start-up, so that the
 * estimate, the slow and the fast level all agree. */
void settle(float m)
{
    const std::vector<float> s = flatSpectrum(m);
    for (int frame = 0; frame < 400; ++frame)
        calculateNoiseLevel(s.data(), 0);
    ASSERT_EQ(noiseLevelState().NoiseCountFromBoot, 0);
    ASSERT_NEAR(noiseLevelState().NoiseLevel[100] / noiseLevelState().SlowLevel[100], 1.0, 1e-3);
}

/* After a step from a settled level to gain times that level, counts the
 * steady frames until the fast update resumes. Returns the limit in force
 * and checks that every steady frame before it used the slow update. */
int steadyFramesAfterStep(float gain)
{
    settle(100.0f);
    const std::vector<float> s = flatSpectrum(100.0f * gain);
    int steady = 0;
    for (int frame = 0; frame < 200; ++frame) {
        const Update update = step(s);
        const NoiseLevelState &st = noiseLevelState();
        if (st.NoiseDetectionCounter == 0) {
            // The slow sum moved by 6.25 % or more: a new reference.
            EXPECT_EQ(st.CurrentNoiseDurationLimit, 20);
            float sum = 0.0f;
            for (int k = 12; k <= 511; ++k)
                sum += st.SlowLevel[k];
            EXPECT_EQ(st.NoiseAmplification, sum);
            EXPECT_EQ(update, Update::Slow);
            steady = 0;
            continue;
        }
        ++steady;
        EXPECT_EQ(st.NoiseDetectionCounter, steady);
        if (steady == st.CurrentNoiseDurationLimit) {
            EXPECT_EQ(update, Update::Fast);
            return steady;
        }
        EXPECT_EQ(update, Update::Slow) << "steady frame " << steady;
    }
    ADD_FAILURE() << "the fast update never resumed";
    return 0;
}

TEST_F(NoiseLevelEstimation, SteadyLevelResumesFastUpdateAfterItsLimit)
{
    EXPECT_EQ(steadyFramesAfterStep(2.0f), 20); // 6 dB above the estimate
    intializeNoiseLevel();
    EXPECT_EQ(steadyFramesAfterStep(4.0f), 32); // 12 dB: the upper bound
    intializeNoiseLevel();
    EXPECT_EQ(steadyFramesAfterStep(2.6f), 24); // 8.3 dB: 3 frames per whole dB
}

TEST_F(NoiseLevelEstimation, LevelBelowTheEstimateFollowsFastAtOnce)
{
    settle(100.0f);
    const std::vector<float> quieter = flatSpectrum(25.0f);
    EXPECT_EQ(step(quieter), Update::Fast);
}

TEST_F(NoiseLevelEstimation, DigitalSilenceRestartsTheCountdown)
{
    settle(100.0f);
    const std::vector<float> silence = flatSpectrum(0.0f);
    calculateNoiseLevel(silence.data(), 0);
    EXPECT_EQ(noiseLevelState().NoiseCountFromBoot, 0); // the slow sum has not decayed yet
    for (int frame = 0; frame < 1000 && noiseLevelState().NoiseCountFromBoot == 0; ++frame)
        calculateNoiseLevel(silence.data(), 0);
    EXPECT_EQ(noiseLevelState().NoiseCountFromBoot, 40);
    float slowSum = 0.0f;
    for (int k = 12; k <= 511; ++k)
        slowSum += noiseLevelState().SlowLevel[k];
    EXPECT_LE(slowSum, 1e-34f);
}

} // namespace
