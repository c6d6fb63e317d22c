#include "functional/audio/voxaim/tools_common/result_csv.h"

#include <array>
#include <cinttypes>
#include <cmath>
#include <cstring>

namespace voxaim::tools {

void appendFloat(std::string &text, float value)
{
    // At most 15 characters: "-1.17549435e-38".
    std::array<char, 32> number{};
    std::snprintf(number.data(), number.size(), "%.9g", static_cast<double>(value));
    text += number.data();
}

void appendJsonString(std::string &json, std::string_view text)
{
    json += '"';
    for (const char c : text) {
        if (c == '"' || c == '\\') {
            json += '\\';
            json += c;
        } else if (static_cast<unsigned char>(c) < 0x20) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x", static_cast<unsigned>(c));
            json += escape;
        } else {
            json += c;
        }
    }
    json += '"';
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

std::optional<std::string> parseResultFormat(const char *text, ResultFormat &format)
{
    if (std::strcmp(text, "csv") == 0)
        format = ResultFormat::Csv;
    else if (std::strcmp(text, "jsonl") == 0)
        format = ResultFormat::Jsonl;
    else
        return std::string("unknown --format '") + text + "' (csv or jsonl)";
    return std::nullopt;
}

std::string formatJsonLine(uint64_t frame, const VoxaimResult &result, bool elevationEstimated)
{
    std::string text = "{\"frame\":" + std::to_string(frame);
    struct Value {
        const char *name;
        float value;
        bool estimated;
    };
    const Value values[] = {{"azimuth", result.azimuth, true},
                            {"elevation", result.elevation, elevationEstimated},
                            {"range", result.range, true},
                            {"quality", result.quality, true}};
    for (const auto &[name, value, estimated] : values) {
        text += ",\"";
        text += name;
        text += "\":";
        if (estimated && std::isfinite(value))
            appendFloat(text, value);
        else
            text += "null";
    }
    text += ",\"flags\":" + std::to_string(result.flags);
    for (const FlagBit &flag : kOutputFlags) {
        text += ",\"";
        text += flag.name;
        text += voxaim_getFlag(flag.bit, result.flags) ? "\":true" : "\":false";
    }
    text += '}';
    return text;
}

bool engineEstimatesElevation()
{
    VoxaimSearchMap map{};
    return voxaim_getSearchMap(VOXAIM_GRID_AZIMUTH_ELEVATION, &map) == 1;
}

void ResultPrinter::header(std::FILE *out) const
{
    if (format_ == ResultFormat::Csv)
        printCsvHeader(out);
}

void ResultPrinter::line(std::FILE *out, uint64_t frame, const VoxaimResult &result) const
{
    if (format_ == ResultFormat::Csv)
        printCsvLine(out, frame, result);
    else
        std::fprintf(out, "%s\n", formatJsonLine(frame, result, elevationEstimated_).c_str());
}

} // namespace voxaim::tools
