#ifndef FUNCTIONAL_AUDIO_VOXAIM_LIVE_LIVE_EVENT_H
#define FUNCTIONAL_AUDIO_VOXAIM_LIVE_LIVE_EVENT_H
// The documents of the live view's event stream, as JSON text:
//
//   hello  once per connection: the program, the variant, the named output
//          flag bits, and the axes of the engine's search grids;
//   frame  one per frame: "frame", "azimuth", "elevation", "range",
//          "quality", "flags" and "map";
//   end    when the input has ended: "frames", the number of frames.
//
// A viewer that comes late first gets the frames it missed as history: frame
// documents without "map" (the page draws the maps of the current frame
// only), about 120 bytes each instead of 4.6 kB.
//
// The numbers of a frame are the CSV line's (result_csv.h): the same frame
// index, the four floats with the same 9 significant digits (the text the CSV
// prints; a float that is not finite becomes null, and so does the elevation
// of a variant without an elevation grid, which estimates none) and the flag
// word as a decimal number. "map" holds each search grid the variant searches
// ("elevation": azimuth x elevation, "range": azimuth x range) reduced to
// blocks of kColumnStep azimuths x the grid's row step: one byte per block,
// the largest power of its cells scaled from the grid's smallest ("lo") to its
// largest ("hi") power to 0 ... 255, blocks row after row from the grid's
// first row, base64-encoded in "cells"; "chosen" is the [column, row] of the
// cell the search picked, at full resolution. Cells without an angle never
// count (they never win).
#include <cstdint>
#include <string>
#include <string_view>

#include "functional/audio/voxaim/cmod/track/voxaim.h"

namespace voxaim::live {

// Block sizes of the reduced maps: azimuths per block for both grids, rows
// per block for each.
inline constexpr int32_t kColumnStep = 4;
inline constexpr int32_t kElevationRowStep = 4;
inline constexpr int32_t kRangeRowStep = 2;

// The hello document, from the grids of the initialised engine.
std::string helloJson(std::string_view program, std::string_view variant, uint32_t type, std::string_view source);

// The frame document of the engine's last frame, `result` being its answer.
std::string frameJson(uint64_t frame, const VoxaimResult &result);

// The same frame as history: the frame document without "map".
std::string historyJson(uint64_t frame, const VoxaimResult &result);

std::string endJson(uint64_t frames);

// Standard base64 (RFC 4648, with padding).
std::string base64(std::string_view bytes);

} // namespace voxaim::live

#endif
