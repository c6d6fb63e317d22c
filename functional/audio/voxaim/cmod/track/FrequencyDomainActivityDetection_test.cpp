#include "functional/audio/voxaim/cmod/track/FrequencyDomainActivityDetection.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace {

constexpr int Bins = 2049;
constexpr int Channels = 6;

/* One frame: spectra of all channels and the noise estimate handed in. */
struct Frame {
    std::vector<float> spectrum = std::vector<float>(Channels * 2 * Bins, 0.0f);
    std::vector<float> noise = std::vector<float>(Bins, 0.0f);

    /* Bin k gets power p (0.5 * (|a|^2 + |b|^2)) in the two channels. */
    Frame &power(int k, float p, int first = 1, int second = 2)
    {
        for (int ch : {first, second})
            spectrum[ch * 2 * Bins + 2 * k] = std::sqrt(p);
        return *this;
    }
    Frame &noiseMagnitude(int k, float n)
    {
        noise[k] = n;
        return *this;
    }
};

struct Answer {
    int voice, sound;
};

Answer detect(const Frame &f)
{
    uint8_t voice = 7, sound = 7;
    const uint32_t result = detectFrequencyDomainActivity(f.spectrum.data(), f.noise.data(), &voice, &sound);
    EXPECT_EQ(result, voice);
    return {voice, sound};
}

/* Speech-like: all power in the 211 ... 633 Hz band, ratio r to the noise. */
Frame speech(float ratio) { return Frame().power(30, ratio).noiseMagnitude(30, 1.0f); }

class FrequencyDomainActivityDetection : public ::testing::Test {
protected:
    void SetUp() override
    {
        setFrequencyDomainVadChannels(1, 2);
        initializeFrequencyDomainActivityDetector();
    }
};

TEST_F(FrequencyDomainActivityDetection, VoiceStartsOnTheSeventhFrameAboveTheNoise)
{
    const Frame f = speech(4.0f);
    for (int frame = 1; frame <= 6; ++frame) {
        const Answer a = detect(f);
        EXPECT_EQ(a.voice, 0) << "frame " << frame;
        EXPECT_EQ(a.sound, 1) << "frame " << frame;
    }
    for (int frame = 7; frame <= 10; ++frame)
        EXPECT_EQ(detect(f).voice, 1) << "frame " << frame;
}

TEST_F(FrequencyDomainActivityDetection, RatioBetween1_1And1_3CountsWithoutSound)
{
    const Frame f = speech(1.2f);
    for (int frame = 1; frame <= 7; ++frame) {
        const Answer a = detect(f);
        EXPECT_EQ(a.sound, 0);
        EXPECT_EQ(a.voice, frame == 7 ? 1 : 0) << "frame " << frame;
    }
}

TEST_F(FrequencyDomainActivityDetection, RatioOf1_1OrLessRestartsTheOnsetCount)
{
    for (int frame = 0; frame < 6; ++frame)
        detect(speech(2.0f));
    EXPECT_EQ(detect(speech(1.1f)).voice, 0);
    for (int frame = 1; frame <= 6; ++frame)
        EXPECT_EQ(detect(speech(2.0f)).voice, 0) << "frame " << frame;
    EXPECT_EQ(detect(speech(2.0f)).voice, 1);
}

TEST_F(FrequencyDomainActivityDetection, HangoverHoldsVoiceFor34Frames)
{
    for (int frame = 0; frame < 8; ++frame)
        detect(speech(4.0f));
    const Frame quiet = speech(0.5f);
    for (int frame = 1; frame <= 34; ++frame) {
        const Answer a = detect(quiet);
        EXPECT_EQ(a.voice, 1) << "frame " << frame;
        EXPECT_EQ(a.sound, 0);
    }
    EXPECT_EQ(detect(quiet).voice, 0);
    EXPECT_EQ(detect(quiet).voice, 0);
}

TEST_F(FrequencyDomainActivityDetection, LowBandMustHoldMoreThanHalfOfTheTotal)
{
    // A strong tone above 633 Hz: sound, but never voice.
    const Frame tone = Frame().power(100, 50.0f).noiseMagnitude(100, 1.0f);
    for (int frame = 0; frame < 20; ++frame) {
        const Answer a = detect(tone);
        EXPECT_EQ(a.voice, 0);
        EXPECT_EQ(a.sound, 1);
    }
    // Exactly half of the total in the low band is not enough ...
    initializeFrequencyDomainActivityDetector();
    const Frame half = speech(4.0f).power(100, 4.0f);
    for (int frame = 0; frame < 10; ++frame)
        EXPECT_EQ(detect(half).voice, 0);
    // ... just more than half is.
    const Frame more = speech(4.0f).power(100, 3.96f);
    EXPECT_EQ(detect(more).voice, 1);
}

TEST_F(FrequencyDomainActivityDetection, BinsBelow82HzCountOneHundredthInTheTotal)
{
    // Low band power 1; bin 5 adds 0.01 * p to the total.
    const Frame heavy = speech(4.0f).power(5, 420.0f); // total 8.2 > 2 * 4
    for (int frame = 0; frame < 10; ++frame)
        EXPECT_EQ(detect(heavy).voice, 0);
    const Frame light = speech(4.0f).power(5, 380.0f); // total 7.8 < 2 * 4
    EXPECT_EQ(detect(light).voice, 1);
}

TEST_F(FrequencyDomainActivityDetection, UsesOnlyTheSelectedChannels)
{
    setFrequencyDomainVadChannels(3, 4);
    Frame wrong = speech(4.0f); // channels 1 and 2
    for (int frame = 0; frame < 10; ++frame)
        EXPECT_EQ(detect(wrong).sound, 0);
    Frame right = Frame().power(30, 4.0f, 3, 4).noiseMagnitude(30, 1.0f);
    for (int frame = 1; frame <= 7; ++frame)
        EXPECT_EQ(detect(right).voice, frame == 7 ? 1 : 0);
}

TEST_F(FrequencyDomainActivityDetection, ZeroNoiseSum)
{
    // Signal over zero noise is infinitely above it ...
    const Frame signal = Frame().power(30, 1.0f);
    for (int frame = 1; frame <= 6; ++frame)
        EXPECT_EQ(detect(signal).sound, 1);
    // ... nothing over nothing counts as quiet and restarts the onset count.
    const Answer a = detect(Frame());
    EXPECT_EQ(a.sound, 0);
    EXPECT_EQ(a.voice, 0);
    EXPECT_EQ(detect(signal).voice, 0);
}

TEST_F(FrequencyDomainActivityDetection, VoiceStaysOnThroughAVeryLongTalk)
{
    // More consecutive onset frames than a 16-bit counter holds (about 23
    // minutes): the answer must not drop out when the counts would wrap.
    const Frame f = speech(4.0f);
    for (int frame = 0; frame < 7; ++frame)
        detect(f);
    frequencyDomainVadState().TemporalCount = 32765;
    frequencyDomainVadState().BurstCount = 32765;
    for (int frame = 0; frame < 10; ++frame)
        EXPECT_EQ(detect(f).voice, 1) << "frame " << frame;
    EXPECT_EQ(frequencyDomainVadState().TemporalCount, 32767);
    EXPECT_EQ(frequencyDomainVadState().BurstCount, 32767);
}

} // namespace
