#include "functional/audio/voxaim/live/live_event.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <vector>

#include "functional/audio/voxaim/tools_common/result_csv.h"

namespace voxaim::live {

namespace {

constexpr float kDegreesPerRadian = 57.2957763671875f; // as the results convert

struct Grid {
    const char *name;
    uint32_t id;
    int32_t rowStep;
    bool angles; // rows are elevations (radians), else ranges (metres)
};
constexpr Grid kGrids[] = {{"elevation", VOXAIM_GRID_AZIMUTH_ELEVATION, kElevationRowStep, true},
                           {"range", VOXAIM_GRID_AZIMUTH_RANGE, kRangeRowStep, false}};

int32_t blocks(int32_t cells, int32_t step) { return (cells + step - 1) / step; }

void appendNumber(std::string &json, float value)
{
    if (std::isfinite(value))
        tools::appendFloat(json, value);
    else
        json += "null";
}

void appendArray(std::string &json, const float *values, int32_t count, float scale)
{
    json += '[';
    for (int32_t i = 0; i < count; ++i) {
        if (i > 0)
            json += ',';
        appendNumber(json, values[i] * scale);
    }
    json += ']';
}

// The reduced map of one grid: {"lo":..,"hi":..,"chosen":[c,r],"cells":".."}.
void appendMap(std::string &json, const VoxaimSearchMap &map, int32_t rowStep)
{
    const auto counts = [&](int32_t column) { return !std::isnan(map.azimuths[column]); };
    float lo = std::numeric_limits<float>::infinity();
    float hi = -lo;
    for (int32_t row = 0; row < map.rowCount; ++row) {
        for (int32_t column = 0; column < map.columnCount; ++column) {
            const float power = map.power[row * map.columnCount + column];
            if (counts(column) && std::isfinite(power)) {
                lo = std::min(lo, power);
                hi = std::max(hi, power);
            }
        }
    }
    const int32_t columns = blocks(map.columnCount, kColumnStep);
    const int32_t rows = blocks(map.rowCount, rowStep);
    std::string cells(static_cast<std::size_t>(columns) * rows, '\0');
    const float scale = hi > lo ? 255.0f / (hi - lo) : 0.0f;
    for (int32_t row = 0; row < map.rowCount; ++row) {
        for (int32_t column = 0; column < map.columnCount; ++column) {
            const float power = map.power[row * map.columnCount + column];
            if (!counts(column) || !std::isfinite(power))
                continue;
            const auto level = static_cast<unsigned char>(std::lround((power - lo) * scale));
            char &block = cells[(row / rowStep) * columns + column / kColumnStep];
            block = static_cast<char>(std::max(static_cast<unsigned char>(block), level));
        }
    }
    json += "{\"lo\":";
    appendNumber(json, hi >= lo ? lo : 0.0f);
    json += ",\"hi\":";
    appendNumber(json, hi >= lo ? hi : 0.0f);
    json += ",\"chosen\":[" + std::to_string(map.chosen % map.columnCount) + ',' +
            std::to_string(map.chosen / map.columnCount) + "],\"cells\":\"" + base64(cells) + "\"}";
}

// {"elevation":...,"range":...}: `append` writes each grid the variant
// searches.
template <class Append>
void appendGrids(std::string &json, Append append)
{
    json += '{';
    for (const Grid &grid : kGrids) {
        VoxaimSearchMap map{};
        if (!voxaim_getSearchMap(grid.id, &map))
            continue;
        json += (json.back() == '{' ? "\"" : ",\"") + std::string(grid.name) + "\":";
        append(grid, map);
    }
    json += '}';
}

} // namespace

std::string base64(std::string_view bytes)
{
    static constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    for (std::size_t i = 0; i < bytes.size(); i += 3) {
        const std::size_t n = std::min<std::size_t>(3, bytes.size() - i);
        uint32_t word = static_cast<uint32_t>(static_cast<unsigned char>(bytes[i])) << 16;
        if (n > 1)
            word |= static_cast<uint32_t>(static_cast<unsigned char>(bytes[i + 1])) << 8;
        if (n > 2)
            word |= static_cast<unsigned char>(bytes[i + 2]);
        for (std::size_t k = 0; k < 4; ++k)
            out += k <= n ? kAlphabet[(word >> (18 - 6 * k)) & 63] : '=';
    }
    return out;
}

std::string helloJson(std::string_view program, std::string_view variant, uint32_t type, std::string_view source)
{
    std::string json = "{\"program\":";
    tools::appendJsonString(json, program);
    json += ",\"variant\":";
    tools::appendJsonString(json, variant);
    json += ",\"type\":" + std::to_string(type) + ",\"source\":";
    tools::appendJsonString(json, source);
    json += ",\"framePeriod\":";
    appendNumber(json, static_cast<float>(VOXAIM_FRAME_LENGTH) / 48000.0f);
    json += ",\"flags\":[";
    for (const tools::FlagBit &flag : tools::kOutputFlags) {
        if (json.back() != '[')
            json += ',';
        json += "{\"bit\":" + std::to_string(flag.bit) + ",\"name\":";
        tools::appendJsonString(json, flag.name);
        json += '}';
    }
    json += "],\"grids\":";
    appendGrids(json, [&json](const Grid &grid, const VoxaimSearchMap &map) {
        json += "{\"columns\":" + std::to_string(map.columnCount) + ",\"rows\":" + std::to_string(map.rowCount) +
                ",\"columnStep\":" + std::to_string(kColumnStep) + ",\"rowStep\":" + std::to_string(grid.rowStep) +
                ",\"unit\":\"" + (grid.angles ? "degrees" : "metres") + "\",\"azimuths\":";
        appendArray(json, map.azimuths, map.columnCount, kDegreesPerRadian);
        json += ",\"values\":";
        appendArray(json, map.rows, map.rowCount, grid.angles ? kDegreesPerRadian : 1.0f);
        json += '}';
    });
    json += '}';
    return json;
}

namespace {

// The frame document, `withMaps` or without "map".
std::string frameDocument(uint64_t frame, const VoxaimResult &result, bool withMaps)
{
    std::string json = "{\"frame\":" + std::to_string(frame);
    // A variant without an elevation grid estimates no elevation: null, as
    // for a value that is not finite.
    const float elevation =
        tools::engineEstimatesElevation() ? result.elevation : std::numeric_limits<float>::quiet_NaN();
    const std::pair<const char *, float> values[] = {{"azimuth", result.azimuth},
                                                     {"elevation", elevation},
                                                     {"range", result.range},
                                                     {"quality", result.quality}};
    for (const auto &[name, value] : values) {
        json += ",\"" + std::string(name) + "\":";
        appendNumber(json, value);
    }
    json += ",\"flags\":" + std::to_string(result.flags);
    if (withMaps) {
        json += ",\"map\":";
        appendGrids(json,
                    [&json](const Grid &grid, const VoxaimSearchMap &map) { appendMap(json, map, grid.rowStep); });
    }
    json += '}';
    return json;
}

} // namespace

std::string frameJson(uint64_t frame, const VoxaimResult &result) { return frameDocument(frame, result, true); }

std::string historyJson(uint64_t frame, const VoxaimResult &result) { return frameDocument(frame, result, false); }

std::string endJson(uint64_t frames) { return "{\"frames\":" + std::to_string(frames) + "}"; }

} // namespace voxaim::live
