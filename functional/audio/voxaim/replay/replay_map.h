#ifndef FUNCTIONAL_AUDIO_VOXAIM_REPLAY_REPLAY_MAP_H
#define FUNCTIONAL_AUDIO_VOXAIM_REPLAY_REPLAY_MAP_H
// The search map of one frame as CSV (voxaim_getSearchMap): one line per grid
// cell, azimuth fastest, first the azimuth x elevation grid (variants with
// elevation pairs), then the azimuth x range grid:
//
//   grid,azimuth,elevation_or_range,power,chosen
//   elevation,-64.8232727,-31.3322487,0.0123,0
//   range,-64.8232727,0.5,0.0321,0
//
// Angles in degrees as the results give them ("nan" for grid cells without
// an angle), ranges in metres; chosen is 1 for the cell the search picked.
#include <cstdio>
#include <string>

namespace voxaim::replay {

inline constexpr const char *kMapHeader = "grid,azimuth,elevation_or_range,power,chosen";

// Writes the map of the engine's last frame to `path`; false with `error`
// set when the file cannot be written.
bool writeSearchMap(const char *path, std::string &error);

} // namespace voxaim::replay

#endif
