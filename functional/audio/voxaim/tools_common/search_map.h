#ifndef FUNCTIONAL_AUDIO_VOXAIM_TOOLS_COMMON_SEARCH_MAP_H
#define FUNCTIONAL_AUDIO_VOXAIM_TOOLS_COMMON_SEARCH_MAP_H
// The search map of one frame as CSV (voxaim_getSearchMap): one line per grid
// cell, azimuth fastest, first the azimuth x elevation grid (variants with
// elevation pairs), then the azimuth x range grid:
//
//   grid,azimuth,elevation_or_range,power,chosen,variant,frame
//   elevation,-64.8232727,-31.3322487,0.0123,0,tovak,59
//   range,-64.8232727,0.5,0.0321,0,tovak,59
//
// Angles in degrees as the results give them ("nan" for grid cells without
// an angle), ranges in metres; chosen is 1 for the cell the search picked.
// Every line names the variant and the frame, so that a map read on its own
// (a plot, a table of several maps) says what it is.
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>

namespace voxaim::tools {

inline constexpr const char *kMapHeader = "grid,azimuth,elevation_or_range,power,chosen,variant,frame";

// Writes the map of the engine's last frame, frame `frame` of `variant`, to
// `path`; false with `error` set when the file cannot be written.
bool writeSearchMap(const char *path, const char *variant, uint64_t frame, std::string &error);

// The frames of --map FRAMES:FILE: one frame ("12"), a range ("10-50", or
// "10-" to the end) and a step ("10-50/5": 10, 15, ... 50). Every "%d" in
// FILE becomes the frame number; FILE needs one when FRAMES names more than a
// frame.
struct MapRequest {
    uint64_t first = 0;
    uint64_t last = 0; // UINT64_MAX: to the end
    uint64_t step = 1;
    std::string path;

    bool wants(uint64_t frame) const { return frame >= first && frame <= last && (frame - first) % step == 0; }
    std::string pathFor(uint64_t frame) const;
    // The highest frame it names, unless it runs to the end.
    std::optional<uint64_t> lastNamed() const;
    // "12", "10-50/5": FRAMES as given.
    std::string frames() const;
};

// nullopt for anything else than FRAMES:FILE as above.
std::optional<MapRequest> parseMapRequest(const std::string &text);

} // namespace voxaim::tools

#endif
