#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "functional/audio/voxaim/cmod/track/voxaim.h"

namespace {

constexpr int N = VOXAIM_FRAME_LENGTH;

std::vector<float> energiesOf(const std::vector<float> &frame, int channels)
{
    std::vector<float> energies(VOXAIM_MAX_CHANNELS, -1.0f);
    voxaim_calculateSignalEnergy(frame.data(), 24, channels, energies.data());
    return energies;
}

TEST(SignalEnergy, SumsSquaredNormalisedSamplesPerChannel)
{
    std::vector<float> frame(6 * N, 0.0f);
    for (int i = 0; i < N; ++i)
        frame[2 * N + i] = 4194304.0f; // half of full scale
    const std::vector<float> e = energiesOf(frame, 6);
    EXPECT_EQ(e[2], 512.0f);
    for (int ch : {0, 1, 3, 4, 5, 6, 7})
        EXPECT_EQ(e[ch], 0.0f) << "channel " << ch;
}

TEST(SignalEnergy, KhzSineOfRisingAmplitude)
{
    // A 1000 Hz sine at 0.1, 0.2, ... of full scale on channels 0 ... 5.
    std::vector<float> frame(6 * N);
    for (int c = 0; c < 6; ++c)
        for (int k = 0; k < N; ++k)
            frame[c * N + k] = (838860.8f + c * 838860.8f) * std::sin(k * 0.1308997f);
    const std::vector<float> e = energiesOf(frame, 6);
    const float expected[6] = {10.22f, 40.9f, 92.05f, 163.64f, 255.68f, 368.18f};
    for (int c = 0; c < 6; ++c)
        EXPECT_NEAR(e[c], expected[c], 0.3f) << "channel " << c;
}

TEST(SignalEnergy, SampleWidthSetsTheScale)
{
    std::vector<float> frame(N, 32768.0f);
    std::vector<float> energies(VOXAIM_MAX_CHANNELS);
    voxaim_calculateSignalEnergy(frame.data(), 16, 1, energies.data());
    EXPECT_EQ(energies[0], 2048.0f); // full scale in every sample
}

TEST(SignalEnergyDeathTest, ChannelCountOutsideOneToEight)
{
    std::vector<float> frame(9 * N, 0.0f);
    std::vector<float> energies(VOXAIM_MAX_CHANNELS);
    EXPECT_DEATH(voxaim_calculateSignalEnergy(frame.data(), 24, 9, energies.data()),
                 "functional/audio/voxaim/cmod/track/voxaim.cpp:[0-9]+: .*voxaim_calculateSignalEnergy.*: "
                 "Assertion `nchannels <= VOXAIM_MAX_CHANNELS' failed");
    EXPECT_DEATH(voxaim_calculateSignalEnergy(frame.data(), 24, 0, energies.data()),
                 "Assertion `nchannels > 0' failed");
}

} // namespace
