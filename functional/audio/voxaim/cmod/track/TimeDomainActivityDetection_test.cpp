#include "functional/audio/voxaim/cmod/track/TimeDomainActivityDetection.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <numbers>
#include <vector>

namespace {

constexpr int FrameLength = 2048;
constexpr int Channels = 4;
constexpr int Watched = 2;

/* A steady test signal on every channel: a 500 Hz sine of amplitude 0.5
 * over a faint broadband hiss, continuous from frame to frame. */
class Signal {
public:
    std::vector<float> next()
    {
        std::vector<float> frame(Channels * FrameLength);
        for (int i = 0; i < FrameLength; ++i, ++t) {
            seed = seed * 1664525u + 1013904223u;
            const float hiss = 1e-3f * (static_cast<float>(seed >> 8) / 8388608.0f - 1.0f);
            const float v = 0.5f * static_cast<float>(std::sin(2 * std::numbers::pi * 500.0 * t / 48000.0)) + hiss;
            for (int ch = 0; ch < Channels; ++ch)
                frame[ch * FrameLength + i] = v;
        }
        return frame;
    }

private:
    uint32_t seed = 12345;
    long t = 0;
};

int detect(const std::vector<float> &frame)
{
    uint8_t result = 7;
    detectTimeDomainActivity(frame.data(), &result);
    EXPECT_TRUE(result == 0 || result == 1);
    return result;
}

class TimeDomainActivityDetection : public ::testing::Test {
protected:
    void SetUp() override
    {
        setTimeDomainVadChannel(Watched);
        initializeTimeDomainActivityDetector();
    }
    /* Feeds the steady signal until the median has settled; the answer is 1
     * by the fifteenth frame. */
    void settle()
    {
        int answer = 0;
        for (int frame = 0; frame < 15; ++frame)
            answer = detect(signal.next());
        ASSERT_EQ(answer, 1);
    }
    /* The answers of four frames, the first with sample i of the watched
     * channel scaled by five. */
    std::vector<int> clickAt(int i, int channel = Watched)
    {
        std::vector<float> frame = signal.next();
        frame[channel * FrameLength + i] *= 5.0f;
        std::vector<int> answers{detect(frame)};
        for (int n = 0; n < 3; ++n)
            answers.push_back(detect(signal.next()));
        return answers;
    }
    Signal signal;
};

TEST_F(TimeDomainActivityDetection, FirstAnswerIsOneWhateverTheInput)
{
    std::vector<float> frame = signal.next();
    for (int i = 0; i < 44; ++i)
        frame[Watched * FrameLength + i] = (i % 2 ? 1.0f : -1.0f);
    EXPECT_EQ(detect(frame), 1);
}

TEST_F(TimeDomainActivityDetection, SignalStartAnswersZeroUntilTheMedianSettles)
{
    EXPECT_EQ(detect(signal.next()), 1);
    // The median starts far below the envelope of the new signal.
    EXPECT_EQ(detect(signal.next()), 0);
    settle();
}

TEST_F(TimeDomainActivityDetection, ClickClearsTheNextTwoFrames)
{
    settle();
    EXPECT_EQ(clickAt(1000), (std::vector<int>{1, 0, 0, 1}));
}

TEST_F(TimeDomainActivityDetection, ClickAtTheStartOfAFrameIsSeenInItsOwnCall)
{
    settle();
    EXPECT_EQ(clickAt(10), (std::vector<int>{0, 0, 0, 1}));
}

TEST_F(TimeDomainActivityDetection, WatchesOnlyItsChannel)
{
    settle();
    EXPECT_EQ(clickAt(1000, 1), (std::vector<int>{1, 1, 1, 1}));
    EXPECT_EQ(clickAt(1000, 3), (std::vector<int>{1, 1, 1, 1}));
    setTimeDomainVadChannel(3);
    detect(signal.next()); // the history still holds channel 2: identical here
    EXPECT_EQ(clickAt(1000, 3), (std::vector<int>{1, 0, 0, 1}));
}

TEST_F(TimeDomainActivityDetection, SilenceAlwaysAnswersOne)
{
    // No median rises above 1e-7, so nothing counts as a jump.
    const std::vector<float> silence(Channels * FrameLength, 0.0f);
    for (int frame = 0; frame < 10; ++frame)
        EXPECT_EQ(detect(silence), 1);
}

TEST_F(TimeDomainActivityDetection, PassesHighFrequenciesOnly)
{
    settle();
    // A strong tone faded in over one frame: at 1 kHz the band-pass removes
    // it, at 15 kHz its envelope outruns the median.
    auto fadeIn = [&](double hz) {
        std::vector<int> answers;
        for (int n = 0; n < 4; ++n) {
            std::vector<float> frame = signal.next();
            for (int i = 0; i < FrameLength; ++i) {
                const long t = n * FrameLength + i;
                const double gain = n > 0 ? 1.0 : 0.5 - 0.5 * std::cos(std::numbers::pi * i / FrameLength);
                frame[Watched * FrameLength + i] +=
                    static_cast<float>(0.1 * gain * std::sin(2 * std::numbers::pi * hz * t / 48000.0));
            }
            answers.push_back(detect(frame));
        }
        return answers;
    };
    EXPECT_EQ(fadeIn(1000.0), (std::vector<int>{1, 1, 1, 1}));
    const std::vector<int> high = fadeIn(15000.0);
    EXPECT_EQ(high[1], 0);
}

TEST(TimeDomainJump, MeasureSkipsSamplesWithATinyMedian)
{
    const std::vector<float> envelope{5.0f, 2.7f, 1e-3f, 3.0f};
    const std::vector<float> median{1e-7f, 1.0f, 1e-8f, 2.0f};
    EXPECT_FLOAT_EQ(timeDomainJumpMeasure(envelope, median), 1.7f);
    EXPECT_EQ(timeDomainJumpMeasure(std::vector<float>{1.0f}, std::vector<float>{1e-7f}), 0.0f);
    // A falling envelope never counts as a jump.
    EXPECT_EQ(timeDomainJumpMeasure(std::vector<float>{0.5f}, std::vector<float>{1.0f}), 0.0f);
}

TEST(TimeDomainJump, ExactlyTheLimitIsNoJumpAndAJumpIsCarriedOnce)
{
    initializeTimeDomainActivityDetector();
    const float limit = 1.7f;
    // An envelope of 1 + 1.7 over a median of 1 measures exactly the limit.
    const std::vector<float> envelope{1.0f + limit}, median{1.0f};
    ASSERT_EQ(timeDomainJumpMeasure(envelope, median), limit);
    EXPECT_EQ(timeDomainDecision(limit), 1);
    EXPECT_EQ(timeDomainDecision(std::nextafter(limit, 2.0f)), 0);
    EXPECT_EQ(timeDomainDecision(0.0f), 0);
    EXPECT_EQ(timeDomainDecision(0.0f), 1);
    EXPECT_EQ(timeDomainDecision(5.0f), 0);
    EXPECT_EQ(timeDomainDecision(5.0f), 0);
    EXPECT_EQ(timeDomainDecision(limit), 0);
    EXPECT_EQ(timeDomainDecision(limit), 1);
}

} // namespace
