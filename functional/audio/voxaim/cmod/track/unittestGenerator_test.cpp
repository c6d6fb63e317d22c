#include "functional/audio/voxaim/cmod/track/unittestGenerator.h"

#include <gtest/gtest.h>
#include <math.h>

#include <algorithm>
#include <array>
#include <vector>

namespace {

// A small fake array: microphone 0 at the origin, the others along y, and
// the talker positions below chosen against it.
std::vector<std::array<float, 3>> Microphones;

int32_t fakeChannelCount() { return static_cast<int32_t>(Microphones.size()); }
const float *fakeCoordinates(int32_t index) { return Microphones[index].data(); }

int32_t wholeSamples(float distance) { return static_cast<int32_t>(floorf(distance * 137.93103f + 0.5f)); }

float distance(const float *a, const float *b)
{
    return sqrtf((a[0] - b[0]) * (a[0] - b[0]) + (a[1] - b[1]) * (a[1] - b[1]) + (a[2] - b[2]) * (a[2] - b[2]));
}

class GeneratorTest : public ::testing::Test {
protected:
    void SetUp() override { Microphones = {{0.f, 0.f, 0.f}, {0.f, 0.1f, 0.f}, {0.f, -0.1f, 0.f}, {0.f, 0.3f, 0.f}}; }
    void TearDown() override { destroyAudioGenerator(generator_); }
    AudioGenerator *make(bool dcOffset)
    {
        destroyAudioGenerator(generator_);
        generator_ = createAudioGenerator(fakeChannelCount, fakeCoordinates, dcOffset);
        return generator_;
    }
    AudioGenerator *generator_ = nullptr;
};

const float kAhead[3] = {0.f, 0.f, 3.f};       // on the x axis: broadside to y
const float kLeft[3] = {1.5707964f, 0.f, 2.f}; // on the +y axis: lags 0, -14, 14, -42
const float *channel(const float *frame, int c) { return frame + c * VOXAIM_FRAME_LENGTH; }

TEST_F(GeneratorTest, ChannelsReadTheClipWithTheWholeSampleDelayOfTheirExtraPath)
{
    AudioGenerator *g = make(false);
    // Frame 2, so that no channel reads before the clip start.
    getNextFrame(kLeft, UNITTEST_CLIP_ROOM_NOISE, g);
    const float *frame = getNextFrame(kLeft, UNITTEST_CLIP_ROOM_NOISE, g);
    const float talker[3] = {0.f, 2.f, 0.f};
    const int32_t d0 = wholeSamples(distance(talker, Microphones[0].data()));
    const int32_t lags[4] = {0, -14, 14, -42};
    for (int c = 0; c < 4; ++c) {
        const int32_t lag = wholeSamples(distance(talker, Microphones[c].data())) - d0;
        ASSERT_EQ(lag, lags[c]);
        for (int k = 0; k < VOXAIM_FRAME_LENGTH; k += 97)
            ASSERT_EQ(channel(frame, c)[k], roomNoise[2048 + k - lag]) << "channel " << c << " k " << k;
    }
    // Microphone 1 is nearer (leads), microphone 2 farther (lags).
    EXPECT_EQ(channel(frame, 1)[100], roomNoise[2048 + 100 + 14]);
    EXPECT_EQ(channel(frame, 2)[100], roomNoise[2048 + 100 - 14]);
}

TEST_F(GeneratorTest, BroadsideMicrophonesGetIdenticalChannels)
{
    // Four microphones at equal distances from a talker on the x axis.
    Microphones = {{0.f, 0.1f, 0.f}, {0.f, -0.1f, 0.f}, {0.f, 0.f, 0.1f}, {0.f, 0.f, -0.1f}};
    AudioGenerator *g = make(true);
    for (int i = 0; i < 3; ++i) {
        const float *frame = getNextFrame(kAhead, UNITTEST_CLIP_FEMALE_SPEECH, g);
        EXPECT_TRUE(std::equal(channel(frame, 0), channel(frame, 1), channel(frame, 2)));
        EXPECT_TRUE(std::equal(channel(frame, 0), channel(frame, 1), channel(frame, 3)));
    }
}

TEST_F(GeneratorTest, OffsetAndAttenuationApplyToSpeechOnly)
{
    AudioGenerator *g = make(true);
    const float *frame = getNextFrame(kAhead, UNITTEST_CLIP_FEMALE_SPEECH, g);
    for (int k = 0; k < VOXAIM_FRAME_LENGTH; ++k)
        ASSERT_EQ(frame[k], 838860.8f + femaleSpeech[k] * 0.1f) << k;
    frame = getNextFrame(kAhead, UNITTEST_CLIP_ROOM_NOISE, g);
    for (int k = 0; k < VOXAIM_FRAME_LENGTH; ++k)
        ASSERT_EQ(frame[k], roomNoise[2048 + k]) << k;

    g = make(false);
    frame = getNextFrame(kAhead, UNITTEST_CLIP_FEMALE_SPEECH, g);
    for (int k = 0; k < VOXAIM_FRAME_LENGTH; ++k)
        ASSERT_EQ(frame[k], femaleSpeech[k]) << k;
}

TEST_F(GeneratorTest, TheLoopRepeatsAfter375Frames)
{
    AudioGenerator *g = make(false);
    std::vector<float> start;
    for (int i = 0; i < 375; ++i) {
        const float *frame = getNextFrame(kLeft, UNITTEST_CLIP_FEMALE_SPEECH, g);
        if (i == 0)
            start.assign(frame, frame + UNITTEST_BUFFER_LENGTH);
        // Consecutive frames continue one another within the clip.
        EXPECT_EQ(g->readPosition, (static_cast<uint32_t>(i) + 1) * 2048 % 48000);
    }
    EXPECT_EQ(g->readPosition, 0u);
    const float *again = getNextFrame(kLeft, UNITTEST_CLIP_FEMALE_SPEECH, g);
    EXPECT_TRUE(std::equal(start.begin(), start.end(), again));
}

TEST_F(GeneratorTest, LaggingChannelBeforeTheClipStartWrapsAsUnsigned32Bit)
{
    AudioGenerator *g = make(false);
    const float *frame = getNextFrame(kLeft, UNITTEST_CLIP_ROOM_NOISE, g);
    const int lag = 14; // microphone 2, 0.1 m farther: 13.8 samples
    for (int k = 0; k < lag; ++k) {
        EXPECT_EQ(channel(frame, 2)[k], roomNoise[23296 - lag + k]) << k;
        EXPECT_NE(channel(frame, 2)[k], roomNoise[48000 - lag + k]) << k;
    }
    EXPECT_EQ(channel(frame, 2)[lag], roomNoise[0]);
    // The leading channel simply reads ahead.
    EXPECT_EQ(channel(frame, 1)[0], roomNoise[lag]);
}

TEST_F(GeneratorTest, ChannelsAboveTheCountAreNotTouched)
{
    AudioGenerator *g = make(true);
    std::fill(g->buffer + 4 * VOXAIM_FRAME_LENGTH, g->buffer + 5 * VOXAIM_FRAME_LENGTH, 7.0f);
    const float *frame = getNextFrame(kLeft, UNITTEST_CLIP_FEMALE_SPEECH, g);
    EXPECT_EQ(frame, g->buffer);
    EXPECT_TRUE(std::all_of(frame + 4 * VOXAIM_FRAME_LENGTH, frame + 5 * VOXAIM_FRAME_LENGTH,
                            [](float v) { return v == 7.0f; }));
    EXPECT_TRUE(std::all_of(frame + 5 * VOXAIM_FRAME_LENGTH, frame + UNITTEST_BUFFER_LENGTH,
                            [](float v) { return v == 0.0f; }));
}

TEST_F(GeneratorTest, TwoGeneratorsGiveTheSameFrames)
{
    AudioGenerator *a = createAudioGenerator(fakeChannelCount, fakeCoordinates, true);
    AudioGenerator *b = make(true);
    for (int i = 0; i < 30; ++i) {
        const float *fa = getNextFrame(kLeft, i % 2, a);
        const float *fb = getNextFrame(kLeft, i % 2, b);
        ASSERT_TRUE(std::equal(fa, fa + UNITTEST_BUFFER_LENGTH, fb)) << i;
    }
    destroyAudioGenerator(a);
}

TEST(GeneratorClips, LevelsOfTheBuiltInClips)
{
    double speech = 0, noise = 0;
    bool speechFraction = false;
    for (int k = 0; k < UNITTEST_CLIP_LENGTH; ++k) {
        speech += double(femaleSpeech[k]) * femaleSpeech[k];
        noise += double(roomNoise[k]) * roomNoise[k];
        speechFraction |= femaleSpeech[k] != floorf(femaleSpeech[k]);
        ASSERT_EQ(roomNoise[k], floorf(roomNoise[k])) << k;
        ASSERT_LT(fabsf(femaleSpeech[k]), 8388608.0f) << k;
        ASSERT_LT(fabsf(roomNoise[k]), 8388608.0f) << k;
    }
    EXPECT_NEAR(sqrt(speech / UNITTEST_CLIP_LENGTH), 578000.0, 6000.0);
    EXPECT_NEAR(sqrt(noise / UNITTEST_CLIP_LENGTH), 153000.0, 6000.0);
    EXPECT_TRUE(speechFraction);
    EXPECT_EQ(femaleSpeechInfo.samples, femaleSpeech);
    EXPECT_EQ(roomNoiseInfo.numberOfSamples, 48000u);
}

TEST(GenerateInput, SameUniformSequenceOnEveryCall)
{
    const float *first = generateInput();
    std::vector<float> copy(first, first + UNITTEST_BUFFER_LENGTH);
    EXPECT_TRUE(std::all_of(copy.begin(), copy.end(), [](float v) { return v >= -0.5f && v < 0.5f; }));
    const auto [lo, hi] = std::minmax_element(copy.begin(), copy.end());
    EXPECT_LT(*lo, -0.45f);
    EXPECT_GT(*hi, 0.45f);
    rand();
    EXPECT_TRUE(std::equal(copy.begin(), copy.end(), generateInput()));
}

int32_t NineChannels() { return 9; }
int32_t NoChannels() { return 0; }

TEST(GeneratorDeathTest, ChannelCountAndClipIdentifierAreChecked)
{
    Microphones = {{0.f, 0.f, 0.f}};
    AudioGenerator *nine = createAudioGenerator(NineChannels, fakeCoordinates, false);
    EXPECT_DEATH(
        getNextFrame(kAhead, 0, nine),
        "unittestGenerator.cpp:[0-9]+: .*Assertion `numChannels > 0 && numChannels <= VOXAIM_MAX_CHANNELS' failed");
    AudioGenerator *none = createAudioGenerator(NoChannels, fakeCoordinates, false);
    EXPECT_DEATH(getNextFrame(kAhead, 1, none), "numChannels > 0");
    AudioGenerator *one = createAudioGenerator(fakeChannelCount, fakeCoordinates, false);
    EXPECT_DEATH(getNextFrame(kAhead, 2, one), "clipInfoFromId.*Assertion `false' failed");
    destroyAudioGenerator(nine);
    destroyAudioGenerator(none);
    destroyAudioGenerator(one);
}

} // namespace
