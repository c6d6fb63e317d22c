#include "functional/audio/voxaim/tools_common/result_csv.h"

#include <gtest/gtest.h>

#include <bit>
#include <cfloat>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

namespace {

using voxaim::tools::formatCsvLine;

std::vector<std::string> fields(const std::string &line)
{
    std::vector<std::string> out;
    std::stringstream in(line);
    for (std::string field; std::getline(in, field, ',');)
        out.push_back(field);
    return out;
}

// Every float the engine can produce must read back to the same bits, so that
// CSV files from two runs compare exactly as text.
TEST(ReplayCsv, FloatsReadBackBitForBit)
{
    const float awkward[] = {0.1f,
                             -0.0f,
                             1.0f / 3.0f,
                             16777217.0f,
                             std::nextafter(1.0f, 2.0f),
                             FLT_MAX,
                             -FLT_MIN,
                             std::numeric_limits<float>::denorm_min(),
                             -179.999985f,
                             std::numeric_limits<float>::infinity()};
    for (float value : awkward) {
        const VoxaimResult result{value, -value, value * 0.5f, value * 3.0f, 0};
        const std::vector<std::string> f = fields(formatCsvLine(0, result));
        ASSERT_EQ(f.size(), 13u);
        const float expected[] = {result.azimuth, result.elevation, result.range, result.quality};
        for (int i = 0; i < 4; ++i) {
            const float back = std::strtof(f[1 + i].c_str(), nullptr);
            EXPECT_EQ(std::bit_cast<uint32_t>(back), std::bit_cast<uint32_t>(expected[i]))
                << f[1 + i] << " for " << value;
        }
    }
}

// The flag word in hex, then one column per named bit (bit 6 has no name).
TEST(ReplayCsv, FrameIndexAndFlags)
{
    const VoxaimResult result{30.5f, -2.0f, 1.25f, 0.75f, 0x87};
    EXPECT_EQ(formatCsvLine(12, result), "12,30.5,-2,1.25,0.75,0x87,1,1,1,0,0,0,1");
    const VoxaimResult allFlags{0, 0, 0, 0, 0xFFFFFFFFu};
    EXPECT_EQ(formatCsvLine(UINT64_MAX, allFlags), "18446744073709551615,0,0,0,0,0xffffffff,1,1,1,1,1,1,1");
    EXPECT_EQ(formatCsvLine(0, VoxaimResult{0, 0, 0, 0, 0x58}), "0,0,0,0,0,0x58,0,0,0,1,1,0,0");
    EXPECT_EQ(voxaim::tools::csvHeader(),
              "frame,azimuth,elevation,range,quality,flags,VOXAIM_OUT_VOICE_ACTIVITY,VOXAIM_OUT_TIME_DOMAIN_ANSWER,"
              "VOXAIM_OUT_SOUND_ACTIVITY,VOXAIM_OUT_FAR_END_ACTIVITY,VOXAIM_OUT_NOISE_HOLD,"
              "VOXAIM_OUT_ULTRASOUND_DISTORTION,VOXAIM_OUT_PANEL_UPRIGHT");
}

} // namespace

// JSON has no NaN or infinity: such a value, and the elevation of a variant
// that estimates none, is null, so that every line stays valid JSON.
TEST(ReplayJsonLines, NullForWhatIsNoNumber)
{
    const float nan = std::numeric_limits<float>::quiet_NaN(), inf = std::numeric_limits<float>::infinity();
    const std::string flags = ",\"flags\":128,\"VOXAIM_OUT_VOICE_ACTIVITY\":false,\"VOXAIM_OUT_TIME_DOMAIN_ANSWER\":"
                              "false,\"VOXAIM_OUT_SOUND_ACTIVITY\":false,\"VOXAIM_OUT_FAR_END_ACTIVITY\":false,"
                              "\"VOXAIM_OUT_NOISE_HOLD\":false,\"VOXAIM_OUT_ULTRASOUND_DISTORTION\":false,"
                              "\"VOXAIM_OUT_PANEL_UPRIGHT\":true}";
    EXPECT_EQ(voxaim::tools::formatJsonLine(2, VoxaimResult{nan, -inf, inf, 1e-5f, 0x80}, true),
              "{\"frame\":2,\"azimuth\":null,\"elevation\":null,\"range\":null,\"quality\":9.99999975e-06" + flags);
    EXPECT_EQ(voxaim::tools::formatJsonLine(2, VoxaimResult{-0.5f, 3.0f, 1.5f, 0.25f, 0x80}, false),
              "{\"frame\":2,\"azimuth\":-0.5,\"elevation\":null,\"range\":1.5,\"quality\":0.25" + flags);
}
