// The analysis window.
#include "functional/audio/voxaim/cmod/track/voxaim_window.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>

namespace {

TEST(HammingWindow, EndsAtPointZeroEightAndPeaksInTheMiddle) {
  std::array<float, 4096> window{};
  voxaim_generateHammingWindow(window.data(), 4096);
  EXPECT_EQ(window[0], 0.08f);
  EXPECT_NEAR(window[4095], 0.08f, 1e-7f);
  EXPECT_LT(window[2047], 1.0f);
  EXPECT_LT(window[2048], 1.0f);
  EXPECT_GT(window[2047], 0.9999998f);
  EXPECT_EQ(window[2047], window[2048]);
  EXPECT_NEAR(window[1], 0.54 - 0.46 * std::cos(0.0015343553863686413), 1e-8);
  EXPECT_NEAR(window[1024], 0.54 - 0.46 * std::cos(1024 * 0.0015343553863686413), 1e-7);
  for (int n = 0; n < 4096; ++n) ASSERT_NEAR(window[n], window[4095 - n], 1e-7f) << n;
}

TEST(HammingWindow, WritesNoMoreThanTheGivenLength) {
  std::array<float, 16> window;
  window.fill(-1.0f);
  voxaim_generateHammingWindow(window.data(), 10);
  EXPECT_EQ(window[0], 0.08f);
  EXPECT_GT(window[9], 0.08f);
  for (int n = 10; n < 16; ++n) EXPECT_EQ(window[n], -1.0f) << n;
  window.fill(-1.0f);
  voxaim_generateHammingWindow(window.data(), 0);
  voxaim_generateHammingWindow(window.data(), -5);
  for (float w : window) EXPECT_EQ(w, -1.0f);
}

}  // namespace
