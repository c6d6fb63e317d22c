// Hamming window of the engine's analysis blocks.
#include "functional/audio/voxaim/cmod/track/voxaim_window.h"

#include <algorithm>
#include <cmath>
#include <numbers>

extern "C" void voxaim_generateHammingWindow(float *window, int32_t length) {
  const int32_t points = std::clamp<int32_t>(length, 0, VOXAIM_WINDOW_LENGTH);
  if (points == 0) return;
  const double step = 2.0 * std::numbers::pi / (VOXAIM_WINDOW_LENGTH - 1);  // 0.0015343553863686413
  window[0] = 0.08f;
  for (int32_t n = 1; n < points; ++n) {
    window[n] = static_cast<float>(0.54 - 0.46 * std::cos(static_cast<double>(n) * step));
  }
}
