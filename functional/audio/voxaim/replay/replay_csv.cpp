#include "functional/audio/voxaim/replay/replay_csv.h"

#include <array>
#include <cinttypes>

namespace voxaim::replay {

std::string formatCsvLine(uint64_t frame, const VoxaimResult &result)
{
    // Widest line: 20 digits of frame, four floats of at most 15 characters
    // ("-1.17549435e-38"), "0x" and 8 hex digits, five commas, then two
    // characters per flag column.
    std::array<char, 128> line{};
    std::snprintf(line.data(), line.size(), "%" PRIu64 ",%.9g,%.9g,%.9g,%.9g,0x%02" PRIx32, frame,
                  static_cast<double>(result.azimuth), static_cast<double>(result.elevation),
                  static_cast<double>(result.range), static_cast<double>(result.quality), result.flags);
    std::string text = line.data();
    for (const FlagBit &flag : kOutputFlags) {
        text += ',';
        text += static_cast<char>('0' + voxaim_getFlag(flag.bit, result.flags));
    }
    return text;
}

std::string csvHeader()
{
    std::string header = "frame,azimuth,elevation,range,quality,flags";
    for (const FlagBit &flag : kOutputFlags)
        header += std::string(",") + flag.name;
    return header;
}

void printCsvHeader(std::FILE *out) { std::fprintf(out, "%s\n", csvHeader().c_str()); }

void printCsvLine(std::FILE *out, uint64_t frame, const VoxaimResult &result)
{
    std::fprintf(out, "%s\n", formatCsvLine(frame, result).c_str());
}

} // namespace voxaim::replay
