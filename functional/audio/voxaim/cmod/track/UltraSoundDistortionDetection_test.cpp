#include "functional/audio/voxaim/cmod/track/UltraSoundDistortionDetection.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

namespace {

constexpr int Bins = 2049;
constexpr int Channels = 8;
constexpr int UltraSoundBin = 1792; /* 21 kHz */
constexpr int NeighborBin = 1600;   /* 18.75 kHz */

/* Per-frame band power that a block of 20 frames judges as level_dB. */
float powerFor(double level_dB)
{
    const double blockGain = 1.0 - std::pow(1.0 - 0.06058693, 20);
    return static_cast<float>(std::pow(10.0, (level_dB + 60.7555) / 10.0) / blockGain);
}

struct Spectrum {
    std::vector<float> s = std::vector<float>(Channels * 2 * Bins, 0.0f);
    Spectrum &tone(int ch, int bin, float power)
    {
        s[ch * 2 * Bins + 2 * bin + 1] = std::sqrt(power);
        return *this;
    }
};

class UltraSoundDistortionDetection : public ::testing::Test {
protected:
    /* Every test starts the detector afresh, for eight channels. */
    void SetUp() override { initializeUltraSoundDistortionDetector(Channels); }
    void TearDown() override { destroyUltraSoundDistortionDetector(); }

    /* Runs a block of 20 frames; returns the frames (1 ... 20) that reported
     * distortion, and the log written meanwhile in *log. */
    std::vector<int> block(const Spectrum &spectrum, std::string *log = nullptr)
    {
        std::vector<int> flagged;
        testing::internal::CaptureStderr();
        for (int frame = 1; frame <= 20; ++frame) {
            uint8_t distortion = 7;
            detectUltraSoundDistortion(spectrum.s.data(), Channels, &distortion);
            EXPECT_TRUE(distortion == 0 || distortion == 1);
            if (distortion)
                flagged.push_back(frame);
        }
        const std::string written = testing::internal::GetCapturedStderr();
        if (log)
            *log = written;
        return flagged;
    }
};

const std::vector<int> JudgingFrame{20};
const std::vector<int> None{};

TEST_F(UltraSoundDistortionDetection, ToneWarnsOnceAndTheEndIsLoggedOnce)
{
    const Spectrum tone = Spectrum().tone(2, UltraSoundBin, powerFor(-20.0));
    std::string log;
    EXPECT_EQ(block(tone, &log), JudgingFrame);
    EXPECT_EQ(log, "Warning: Ultrasound level is too high, channel: 2 ultrasound level: -20.0 "
                   "neighborband level: -inf\n");
    EXPECT_NEAR(voxaim_getUltraSoundLevel(), -20.0f, 0.01f);

    for (int b = 0; b < 2; ++b) {
        EXPECT_EQ(block(tone, &log), JudgingFrame);
        EXPECT_EQ(log, "");
    }

    const Spectrum quiet = Spectrum().tone(2, UltraSoundBin, powerFor(-40.0));
    EXPECT_EQ(block(quiet, &log), None);
    EXPECT_EQ(log, "Ultrasound level is ok, ultrasound level: -40.0 neighborband level: -inf\n");
    EXPECT_NEAR(voxaim_getUltraSoundLevel(), -40.0f, 0.01f);
    EXPECT_EQ(block(quiet, &log), None);
    EXPECT_EQ(log, "");
}

TEST_F(UltraSoundDistortionDetection, PublishedLevelIsMinus100UntilTheFirstJudgement)
{
    const Spectrum tone = Spectrum().tone(0, UltraSoundBin, powerFor(-50.0));
    for (int frame = 1; frame < 20; ++frame) {
        uint8_t distortion;
        detectUltraSoundDistortion(tone.s.data(), Channels, &distortion);
        EXPECT_EQ(voxaim_getUltraSoundLevel(), -100.0f);
    }
    uint8_t distortion;
    detectUltraSoundDistortion(tone.s.data(), Channels, &distortion);
    EXPECT_NEAR(voxaim_getUltraSoundLevel(), -50.0f, 0.01f);

    destroyUltraSoundDistortionDetector();
    initializeUltraSoundDistortionDetector(Channels);
    EXPECT_EQ(voxaim_getUltraSoundLevel(), -100.0f);
}

TEST_F(UltraSoundDistortionDetection, SilenceNeverRaisesTheFlag)
{
    std::string log;
    for (int b = 0; b < 3; ++b) {
        EXPECT_EQ(block(Spectrum(), &log), None);
        EXPECT_EQ(log, "");
    }
    EXPECT_TRUE(std::isinf(voxaim_getUltraSoundLevel()));
    EXPECT_LT(voxaim_getUltraSoundLevel(), 0.0f);
}

TEST_F(UltraSoundDistortionDetection, LoudLevelCloseToItsNeighborBandIsNotPublished)
{
    block(Spectrum().tone(4, UltraSoundBin, powerFor(-40.0)));
    ASSERT_NEAR(voxaim_getUltraSoundLevel(), -40.0f, 0.01f);

    // Broadband sound: -20 dB against a neighbour band at -34 dB (14 dB apart).
    const Spectrum broadband = Spectrum().tone(4, UltraSoundBin, powerFor(-20.0)).tone(4, NeighborBin, powerFor(-34.0));
    EXPECT_EQ(block(broadband), None);
    EXPECT_NEAR(voxaim_getUltraSoundLevel(), -40.0f, 0.01f);

    // 16 dB apart: published and reported.
    const Spectrum clear = Spectrum().tone(4, UltraSoundBin, powerFor(-20.0)).tone(4, NeighborBin, powerFor(-36.0));
    EXPECT_EQ(block(clear), JudgingFrame);
    EXPECT_NEAR(voxaim_getUltraSoundLevel(), -20.0f, 0.01f);

    // Below -60 dB a level is published whatever its neighbour band holds.
    const Spectrum faint = Spectrum().tone(4, UltraSoundBin, powerFor(-70.0)).tone(4, NeighborBin, powerFor(-70.0));
    EXPECT_EQ(block(faint), None);
    EXPECT_NEAR(voxaim_getUltraSoundLevel(), -70.0f, 0.01f);
}

TEST_F(UltraSoundDistortionDetection, DistortionNeedsMoreThanMinus25dBAndMoreThan15dBAboveTheNeighbourBand)
{
    // Clear of its (empty) neighbour band and published, but not loud enough.
    EXPECT_EQ(block(Spectrum().tone(0, UltraSoundBin, powerFor(-27.0))), None);
    EXPECT_NEAR(voxaim_getUltraSoundLevel(), -27.0f, 0.01f);

    // A level 14.5 dB above its neighbour band is held at the published
    // -20 dB, which stands 14.5 dB above that band: no distortion.
    EXPECT_EQ(block(Spectrum().tone(0, UltraSoundBin, powerFor(-20.0))), JudgingFrame);
    const Spectrum close = Spectrum().tone(0, UltraSoundBin, powerFor(-20.0)).tone(0, NeighborBin, powerFor(-34.5));
    EXPECT_EQ(block(close), None);
    EXPECT_NEAR(voxaim_getUltraSoundLevel(), -20.0f, 0.01f);
}

TEST_F(UltraSoundDistortionDetection, JudgesTheLoudestChannelLowestIndexOnTies)
{
    std::string log;
    const Spectrum tie = Spectrum().tone(5, UltraSoundBin, powerFor(-20.0)).tone(3, UltraSoundBin, powerFor(-20.0));
    EXPECT_EQ(block(tie, &log), JudgingFrame);
    EXPECT_NE(log.find("channel: 3 "), std::string::npos) << log;

    block(Spectrum(), &log); // ends the warning
    const Spectrum louder = Spectrum().tone(1, UltraSoundBin, powerFor(-22.0)).tone(6, UltraSoundBin, powerFor(-21.0));
    EXPECT_EQ(block(louder, &log), JudgingFrame);
    EXPECT_NE(log.find("channel: 6 "), std::string::npos) << log;
    EXPECT_NEAR(voxaim_getUltraSoundLevel(), -21.0f, 0.01f);
}

TEST_F(UltraSoundDistortionDetection, EveryBlockStartsFromZero)
{
    // A tone in the first 10 frames of a block only: the block's level is
    // the smoothed value after 10 more frames of decay, not a carry-over.
    const Spectrum tone = Spectrum().tone(0, UltraSoundBin, powerFor(-20.0));
    const Spectrum silence;
    uint8_t distortion;
    for (int frame = 1; frame <= 20; ++frame)
        detectUltraSoundDistortion((frame <= 10 ? tone : silence).s.data(), Channels, &distortion);
    const double a = 0.06058693;
    const double level = (1.0 - std::pow(1.0 - a, 10)) * std::pow(1.0 - a, 10) / (1.0 - std::pow(1.0 - a, 20));
    EXPECT_NEAR(voxaim_getUltraSoundLevel(), -20.0 + 10.0 * std::log10(level), 0.01);
    block(silence);
    EXPECT_TRUE(std::isinf(voxaim_getUltraSoundLevel()));
}

TEST_F(UltraSoundDistortionDetection, ReadsTheChannelsItIsGiven)
{
    // Eight channels allocated, a four-channel spectrum: nothing beyond it is
    // read (checked by ASan), and its channel 3 is judged.
    std::vector<float> s(4 * 2 * Bins, 0.0f);
    s[3 * 2 * Bins + 2 * UltraSoundBin] = std::sqrt(powerFor(-20.0f));
    uint8_t distortion = 0;
    testing::internal::CaptureStderr();
    for (int frame = 0; frame < 20; ++frame)
        detectUltraSoundDistortion(s.data(), 4, &distortion);
    const std::string log = testing::internal::GetCapturedStderr();
    EXPECT_EQ(distortion, 1);
    EXPECT_NE(log.find("channel: 3 "), std::string::npos) << log;
    EXPECT_DEATH(detectUltraSoundDistortion(s.data(), Channels + 1, &distortion), "channels <= Capacity");
}

} // namespace
