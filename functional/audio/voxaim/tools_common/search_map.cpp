#include "functional/audio/voxaim/tools_common/search_map.h"

#include <cerrno>
#include <cmath>
#include <cstring>
#include <limits>

#include "functional/audio/voxaim/cmod/track/voxaim.h"
#include "functional/audio/voxaim/tools_common/file.h"

namespace voxaim::tools {

namespace {

constexpr float kDegreesPerRadian = 57.2957763671875f; // as the results convert

// %.9g reads back to the same float; NaN is written the same on every host.
void printValue(std::FILE *out, float value)
{
    if (std::isnan(value))
        std::fputs("nan", out);
    else
        std::fprintf(out, "%.9g", static_cast<double>(value));
}

void printGrid(std::FILE *out, const char *name, const VoxaimSearchMap &map, bool angles, const char *variant,
               uint64_t frame)
{
    for (int32_t row = 0; row < map.rowCount; ++row) {
        const float y = angles ? map.rows[row] * kDegreesPerRadian : map.rows[row];
        for (int32_t column = 0; column < map.columnCount; ++column) {
            const int32_t cell = row * map.columnCount + column;
            std::fprintf(out, "%s,", name);
            printValue(out, map.azimuths[column] * kDegreesPerRadian);
            std::fputc(',', out);
            printValue(out, y);
            std::fputc(',', out);
            printValue(out, map.power[cell]);
            std::fprintf(out, ",%d,%s,%llu\n", cell == map.chosen ? 1 : 0, variant,
                         static_cast<unsigned long long>(frame));
        }
    }
}

// Digits at `at` as a number, advancing `at`; nullopt without digits or on
// overflow.
std::optional<uint64_t> number(const std::string &text, std::size_t &at)
{
    const std::size_t start = at;
    uint64_t value = 0;
    for (; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at) {
        const uint64_t digit = static_cast<uint64_t>(text[at] - '0');
        if (value > (std::numeric_limits<uint64_t>::max() - digit) / 10)
            return std::nullopt;
        value = value * 10 + digit;
    }
    return at > start ? std::optional(value) : std::nullopt;
}

} // namespace

std::optional<MapRequest> parseMapRequest(const std::string &text)
{
    const std::size_t colon = text.find(':');
    if (colon == std::string::npos || colon + 1 == text.size())
        return std::nullopt;
    const std::string frames = text.substr(0, colon);
    MapRequest request;
    request.path = text.substr(colon + 1);
    std::size_t at = 0;
    const std::optional<uint64_t> first = number(frames, at);
    if (!first)
        return std::nullopt;
    request.first = request.last = *first;
    if (at < frames.size() && frames[at] == '-') {
        ++at;
        const std::optional<uint64_t> last = number(frames, at);
        request.last = last ? *last : std::numeric_limits<uint64_t>::max();
        if (request.last < request.first)
            return std::nullopt;
        if (at < frames.size() && frames[at] == '/') {
            ++at;
            const std::optional<uint64_t> step = number(frames, at);
            if (!step || *step == 0)
                return std::nullopt;
            request.step = *step;
        }
    }
    const bool several = request.last - request.first >= request.step;
    if (at != frames.size() || (several && request.path.find("%d") == std::string::npos))
        return std::nullopt;
    return request;
}

std::string MapRequest::pathFor(uint64_t frame) const
{
    std::string out = path;
    for (std::size_t at = 0; (at = out.find("%d", at)) != std::string::npos;) {
        const std::string number = std::to_string(frame);
        out.replace(at, 2, number);
        at += number.size();
    }
    return out;
}

std::optional<uint64_t> MapRequest::lastNamed() const
{
    if (last == std::numeric_limits<uint64_t>::max())
        return std::nullopt;
    return last - (last - first) % step;
}

std::string MapRequest::frames() const
{
    std::string text = std::to_string(first);
    if (last != first) {
        text += '-';
        if (last != std::numeric_limits<uint64_t>::max())
            text += std::to_string(last);
        if (step != 1)
            text += '/' + std::to_string(step);
    }
    return text;
}

bool writeSearchMap(const char *path, const char *variant, uint64_t frame, std::string &error)
{
    errno = 0;
    FilePtr file(std::fopen(path, "w"));
    if (!file) {
        error = std::string("cannot write map ") + path + ": " + std::strerror(errno);
        return false;
    }
    std::fprintf(file.get(), "%s\n", kMapHeader);
    VoxaimSearchMap map{};
    if (voxaim_getSearchMap(VOXAIM_GRID_AZIMUTH_ELEVATION, &map))
        printGrid(file.get(), "elevation", map, true, variant, frame);
    if (voxaim_getSearchMap(VOXAIM_GRID_AZIMUTH_RANGE, &map))
        printGrid(file.get(), "range", map, false, variant, frame);
    const bool written = std::fflush(file.get()) == 0 && !std::ferror(file.get());
    if (std::fclose(file.release()) != 0 || !written) {
        error = std::string("cannot write map ") + path + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

} // namespace voxaim::tools
