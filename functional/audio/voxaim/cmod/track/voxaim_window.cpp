// Hamming window of the engine's analysis blocks.
#include "functional/audio/voxaim/cmod/track/voxaim_window.h"

#include <cmath>
#include <numbers>

extern "C" void voxaim_generateHammingWindow(float *window, int32_t /* length: unused */)
{
    const double step = 2.0 * std::numbers::pi / (VOXAIM_WINDOW_LENGTH - 1); // 0.0015343553863686413
    window[0] = 0.08f;
    for (int32_t n = 1; n < VOXAIM_WINDOW_LENGTH; ++n) {
        window[n] = static_cast<float>(0.54 - 0.46 * std::cos(static_cast<double>(n) * step));
    }
}
