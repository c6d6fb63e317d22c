#ifndef FUNCTIONAL_AUDIO_VOXAIM_REPLAY_REPLAY_CSV_H
#define FUNCTIONAL_AUDIO_VOXAIM_REPLAY_REPLAY_CSV_H
// The replay's CSV: one header line, then one line per frame with the frame
// index, the four result floats and the output flag word in hex. Floats are
// printed with 9 significant digits, enough for every float to read back to
// the same bits, so that two runs can be compared exactly as text.
#include <cstdint>
#include <cstdio>
#include <string>

#include "functional/audio/voxaim/cmod/track/voxaim.h"

namespace voxaim::replay {

inline constexpr const char *kCsvHeader = "frame,azimuth,elevation,range,quality,flags";

// One line without its newline, e.g. "3,12.5,-4.25,1.75,0.0312,0x87".
std::string formatCsvLine(uint64_t frame, const VoxaimResult &result);

// Writes the header line or one frame line, with a newline, to `out`.
void printCsvHeader(std::FILE *out);
void printCsvLine(std::FILE *out, uint64_t frame, const VoxaimResult &result);

} // namespace voxaim::replay

#endif
