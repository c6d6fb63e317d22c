#include "functional/audio/voxaim/tools_common/result_csv.h"

#include <array>
#include <cinttypes>

namespace voxaim::tools {

void appendFloat(std::string &text, float value)
{
    // At most 15 characters: "-1.17549435e-38".
    std::array<char, 32> number{};
    std::snprintf(number.data(), number.size(), "%.9g", static_cast<double>(value));
    text += number.data();
}

std::string formatCsvLine(uint64_t frame, const VoxaimResult &result)
{
    std::string text = std::to_string(frame);
    for (const float value : {result.azimuth, result.elevation, result.range, result.quality}) {
        text += ',';
        appendFloat(text, value);
    }
    std::array<char, 16> flags{};
    std::snprintf(flags.data(), flags.size(), ",0x%02" PRIx32, result.flags);
    text += flags.data();
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

} // namespace voxaim::tools
