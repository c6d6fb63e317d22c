#include "functional/audio/voxaim/replay/replay_map.h"

#include <cerrno>
#include <cmath>
#include <cstring>

#include "functional/audio/voxaim/cmod/track/voxaim.h"
#include "functional/audio/voxaim/replay/replay_file.h"

namespace voxaim::replay {

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

void printGrid(std::FILE *out, const char *name, const VoxaimSearchMap &map, bool angles)
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
            std::fprintf(out, ",%d\n", cell == map.chosen ? 1 : 0);
        }
    }
}

} // namespace

bool writeSearchMap(const char *path, std::string &error)
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
        printGrid(file.get(), "elevation", map, true);
    if (voxaim_getSearchMap(VOXAIM_GRID_AZIMUTH_RANGE, &map))
        printGrid(file.get(), "range", map, false);
    const bool written = std::fflush(file.get()) == 0 && !std::ferror(file.get());
    if (std::fclose(file.release()) != 0 || !written) {
        error = std::string("cannot write map ") + path + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

} // namespace voxaim::replay
