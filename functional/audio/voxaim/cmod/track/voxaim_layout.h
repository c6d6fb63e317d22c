#ifndef FUNCTIONAL_AUDIO_VOXAIM_CMOD_TRACK_VOXAIM_LAYOUT_H
#define FUNCTIONAL_AUDIO_VOXAIM_CMOD_TRACK_VOXAIM_LAYOUT_H
// The terms a product variant's array is described in: points in metres and
// the most microphone pairs any variant searches with.
#include <array>

namespace voxaim {

// A point (x, y, z) in metres: x forward, y sideways, z up.
using Point = std::array<float, 3>;

inline constexpr int kMaxPairs = 9; // elevation + azimuth pairs of the largest variant

} // namespace voxaim

#endif
