// The analysis window.
#include "functional/audio/voxaim/cmod/track/voxaim_window.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>

namespace {

TEST(HammingWindow, EndsAtPointZeroEightAndPeaksInTheMiddle)
{
    std::array<float, 4096> window{};
    voxaim_generateHammingWindow(window.data(), 4096);
    EXPECT_EQ(window[0], 0.08f);
    EXPECT_NEAR(window[4095], 0.08f, 1e-7f);
    EXPECT_LT(window[2047], 1.0f);
    EXPECT_LT(window[2048], 1.0f);
    EXPECT_GT(window[2047], 0.9999998f);
    EXPECT_EQ(window[2047], window[2048]);
    // Every point is the double-precision value rounded once to float (a window
    // computed in single precision differs in most points).
    for (int n = 1; n < 4096; ++n) {
        ASSERT_EQ(window[n], static_cast<float>(0.54 - 0.46 * std::cos(n * 0.0015343553863686413))) << n;
    }
    for (int n = 0; n < 4096; ++n)
        ASSERT_NEAR(window[n], window[4095 - n], 1e-7f) << n;
}

TEST(HammingWindow, AlwaysFillsAllPointsWhateverLengthIsPassed)
{
    // The length argument carries nothing: callers pass what they like and get
    // the whole 4096-point window.
    std::array<float, 4096> reference{};
    voxaim_generateHammingWindow(reference.data(), 4096);
    for (int32_t length : {0, -5, 10, 2048, 8192}) {
        std::array<float, 4096> window;
        window.fill(-1.0f);
        voxaim_generateHammingWindow(window.data(), length);
        ASSERT_EQ(window, reference) << length;
    }
}

} // namespace
