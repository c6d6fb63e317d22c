#ifndef FUNCTIONAL_AUDIO_VOXAIM_TOOLS_COMMON_RESULT_CSV_H
#define FUNCTIONAL_AUDIO_VOXAIM_TOOLS_COMMON_RESULT_CSV_H
// The replay's CSV: one header line, then one line per frame with the frame
// index, the four result floats, the output flag word in hex and then one 0/1
// column per named output flag bit (VOXAIM_OUT_..., in bit order). Floats are
// printed with 9 significant digits, enough for every float to read back to
// the same bits, so that two runs can be compared exactly as text.
//
// The same lines as JSON lines (--format jsonl): no header, one object per
// frame with the CSV's fields in its order, the numbers printed as the CSV
// prints them (a float that is not finite becomes null), "flags" as a decimal
// number and each named flag as true or false:
//
//   {"frame":3,"azimuth":12.5,"elevation":null,...,"flags":135,"VOXAIM_OUT_VOICE_ACTIVITY":true,...}
//
// "elevation" is null on variants without an elevation grid: their engine
// searches azimuth x range only and reports a fixed number as the elevation.
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>

#include "functional/audio/voxaim/cmod/track/voxaim.h"

namespace voxaim::tools {

// A named bit of the output flag word, as voxaim.h defines it.
struct FlagBit {
    uint32_t bit;
    const char *name;
};

#define VOXAIM_REPLAY_FLAG(name)                                                                                       \
    FlagBit { name, #name }
inline constexpr FlagBit kOutputFlags[] = {
    VOXAIM_REPLAY_FLAG(VOXAIM_OUT_VOICE_ACTIVITY), VOXAIM_REPLAY_FLAG(VOXAIM_OUT_TIME_DOMAIN_ANSWER),
    VOXAIM_REPLAY_FLAG(VOXAIM_OUT_SOUND_ACTIVITY), VOXAIM_REPLAY_FLAG(VOXAIM_OUT_FAR_END_ACTIVITY),
    VOXAIM_REPLAY_FLAG(VOXAIM_OUT_NOISE_HOLD),     VOXAIM_REPLAY_FLAG(VOXAIM_OUT_ULTRASOUND_DISTORTION),
    VOXAIM_REPLAY_FLAG(VOXAIM_OUT_PANEL_UPRIGHT),
};
#undef VOXAIM_REPLAY_FLAG

// Appends `value` as the CSV prints it: 9 significant digits (%.9g), which
// read back to the same float ("nan", "inf" and "-inf" for the others).
void appendFloat(std::string &text, float value);

// Appends `text` as a JSON string: quoted, with '"', '\\' and the control
// characters escaped.
void appendJsonString(std::string &json, std::string_view text);

// "frame,azimuth,elevation,range,quality,flags,VOXAIM_OUT_VOICE_ACTIVITY,...".
std::string csvHeader();

// One line without its newline, e.g. "3,12.5,-4.25,1.75,0.0312,0x87,1,1,1,0,0,0,1".
std::string formatCsvLine(uint64_t frame, const VoxaimResult &result);

// Writes the header line or one frame line, with a newline, to `out`.
void printCsvHeader(std::FILE *out);
void printCsvLine(std::FILE *out, uint64_t frame, const VoxaimResult &result);

enum class ResultFormat { Csv, Jsonl };

// --format's value ("csv" or "jsonl"): nullopt, or the usage error's message.
std::optional<std::string> parseResultFormat(const char *text, ResultFormat &format);

// --format as a ToolOption's take, for options with an `output` member.
template <class Options>
std::optional<std::string> takeResultFormat(const char *text, Options &options)
{
    return parseResultFormat(text, options.output);
}

// One JSON line without its newline; `elevationEstimated` false prints the
// elevation as null.
std::string formatJsonLine(uint64_t frame, const VoxaimResult &result, bool elevationEstimated);

// Whether the initialised engine's variant estimates elevation, i.e. searches
// an azimuth x elevation grid.
bool engineEstimatesElevation();

// The results of one run in either format: the CSV's header (nothing for
// JSON lines), then one line per frame. Built after voxaim_initialize.
class ResultPrinter {
public:
    explicit ResultPrinter(ResultFormat format)
        : format_(format), elevationEstimated_(engineEstimatesElevation())
    {
    }
    void header(std::FILE *out) const;
    void line(std::FILE *out, uint64_t frame, const VoxaimResult &result) const;

private:
    ResultFormat format_;
    bool elevationEstimated_;
};

} // namespace voxaim::tools

#endif
