#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "functional/audio/voxaim/cmod/track/voxaim.h"
#include "functional/audio/voxaim/cmod/track/voxaim_internal.h"

// Allocation counting: every malloc-family call of the process passes
// through these definitions (glibc lets a program replace its allocator).
// AddressSanitizer brings its own allocator, so there the count is skipped.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool CountsAllocations = false;
long Allocations = 0;
#else
constexpr bool CountsAllocations = true;
long Allocations = 0;
extern "C" {
void *__libc_malloc(size_t);
void *__libc_calloc(size_t, size_t);
void *__libc_realloc(void *, size_t);
void *__libc_memalign(size_t, size_t);
void __libc_free(void *);
void *malloc(size_t n)
{
    ++Allocations;
    return __libc_malloc(n);
}
void *calloc(size_t n, size_t size)
{
    ++Allocations;
    return __libc_calloc(n, size);
}
void *realloc(void *p, size_t n)
{
    ++Allocations;
    return __libc_realloc(p, n);
}
void *aligned_alloc(size_t alignment, size_t n)
{
    ++Allocations;
    return __libc_memalign(alignment, n);
}
int posix_memalign(void **p, size_t alignment, size_t n)
{
    ++Allocations;
    *p = __libc_memalign(alignment, n);
    return *p ? 0 : 12;
}
void free(void *p) { __libc_free(p); }
}
#endif

namespace {

using namespace voxaim;

constexpr float SpeedOfSound = 348.0f; /* 551.72412 lags per metre at 192 kHz */

/* A talker at a fixed position: bursts of white noise (4 loud frames, 4
 * quiet ones) reaching every microphone with its own whole-sample delay. */
class Talker {
public:
    Talker(float azimuthDeg, float elevationDeg, float range, int frames) : samples((frames + 2) * kFrameLength)
    {
        const float az = azimuthDeg * static_cast<float>(M_PI) / 180.0f;
        const float el = elevationDeg * static_cast<float>(M_PI) / 180.0f;
        const float source[3] = {range * std::cos(el) * std::cos(az), range * std::cos(el) * std::sin(az),
                                 range * std::sin(el)};
        for (int m = 0; m < voxaim_getNumberOfChannels(); ++m) {
            const float *mic = voxaim_getMicrophoneCoordinates(m);
            const float d = std::hypot(source[0] - mic[0], source[1] - mic[1], source[2] - mic[2]);
            delays.push_back(static_cast<int>(std::lround(d / SpeedOfSound * 48000.0f)));
        }
        const int earliest = *std::min_element(delays.begin(), delays.end());
        for (int &d : delays)
            d -= earliest;
        uint32_t seed = 1;
        for (size_t n = 0; n < samples.size(); ++n) {
            seed = seed * 1664525u + 1013904223u;
            const float loud = (n / kFrameLength) % 8 < 4 ? 1e6f : 1e4f;
            samples[n] = loud * (static_cast<float>(seed >> 8) / 8388608.0f - 1.0f);
        }
    }
    std::vector<float> frame(int t) const
    {
        std::vector<float> f(voxaim_getNumberOfChannels() * kFrameLength);
        for (int m = 0; m < voxaim_getNumberOfChannels(); ++m)
            for (int i = 0; i < kFrameLength; ++i) {
                const long n = static_cast<long>(t) * kFrameLength + i - delays[m] + kFrameLength;
                f[m * kFrameLength + i] = samples[n];
            }
        return f;
    }

private:
    std::vector<float> samples;
    std::vector<int> delays;
};

class Calculate : public ::testing::Test {
protected:
    void TearDown() override { voxaim_destroy(); }
    VoxaimResult run(const std::vector<float> &frame, uint32_t inputFlags = 0)
    {
        VoxaimResult result;
        voxaim_calculate(frame.data(), 24, inputFlags, &result);
        return result;
    }
    std::vector<float> silence() const { return std::vector<float>(voxaim_getNumberOfChannels() * kFrameLength); }
};

TEST_F(Calculate, FlagWord)
{
    voxaim_initialize(4); // zandor
    VoxaimResult result = run(silence(), 0xFFFFFFFFu);
    // Far end and noise hold copied to bits 3 and 4, nothing above bit 7,
    // bit 6 always 0; the time-domain answer of a first frame is 1, the
    // panel of every variant but mirel upright.
    EXPECT_EQ(result.flags, (1u << 1) | (1u << 3) | (1u << 4) | (1u << 7));
    result = run(silence(), 0xFFFFFFFCu);
    EXPECT_EQ(result.flags, (1u << 1) | (1u << 7));
}

TEST_F(Calculate, FarEndHoldsTheNumeratorsOneFrameAndClearsThemAfterTwo)
{
    voxaim_initialize(1);
    std::ranges::fill(PreviousNumerator.span(), 1.0f);
    const MicrophonePair &pair = AzimuthPairs[0]; // global index NumberOfElevationPairs
    const float *block = nullptr;

    run(silence(), 1u);
    EXPECT_EQ(TimeoutLimit, 2);
    block = PreviousNumerator.block(NumberOfElevationPairs).data(); // just written
    EXPECT_EQ(block[2 * pair.lowerBin], 1.0f);
    EXPECT_EQ(block[2 * 1452 + 1], 1.0f);
    EXPECT_EQ(block[2 * (pair.lowerBin - 1)], 0.0f);
    EXPECT_EQ(block[2 * 1453], 0.0f);

    run(silence(), 1u);
    block = PreviousNumerator.block(NumberOfElevationPairs).data();
    EXPECT_TRUE(std::all_of(block, block + kSpectrumFloats, [](float v) { return v == 0.0f; }));
}

/* A steady 400 Hz tone on every microphone: its power sits in the low band,
 * so the frequency-domain detector reports voice once the tone has stood
 * above the still rising noise estimate for seven frames. */
std::vector<float> lowTone(int t)
{
    std::vector<float> f(voxaim_getNumberOfChannels() * kFrameLength);
    for (int m = 0; m < voxaim_getNumberOfChannels(); ++m)
        for (int i = 0; i < kFrameLength; ++i)
            f[m * kFrameLength + i] = 1e6f * std::sin(2.0 * M_PI * 400.0 * (t * kFrameLength + i) / 48000.0);
    return f;
}

TEST_F(Calculate, NearEndVoiceChoosesTheLongTimeoutUnlessTheFarEndIsActive)
{
    for (const uint32_t farEnd : {0u, 1u}) {
        voxaim_initialize(0);
        bool voice = false;
        for (int t = 0; t < 12 && !voice; ++t) {
            const VoxaimResult result = run(lowTone(t), farEnd);
            voice = voxaim_getFlag(VOXAIM_OUT_VOICE_ACTIVITY, result.flags) != 0;
            if (!voice) {
                EXPECT_EQ(static_cast<int>(TimeoutLimit), 2) << "frame " << t;
            }
        }
        ASSERT_TRUE(voice) << "far end " << farEnd;
        EXPECT_EQ(static_cast<int>(TimeoutLimit), farEnd ? 2 : 35) << "far end " << farEnd;
        voxaim_destroy();
    }
}

TEST_F(Calculate, DoubleBuffersSwapEveryFrame)
{
    voxaim_initialize(0);
    EXPECT_EQ(CurrentNumerator.data(), Numerator1.data());
    EXPECT_EQ(CurrentRawAudioInput.data(), RawAudioInput1.data());
    run(silence());
    EXPECT_EQ(CurrentNumerator.data(), Numerator2.data());
    EXPECT_EQ(PreviousNumerator.data(), Numerator1.data());
    EXPECT_EQ(CurrentRawAudioInput.data(), RawAudioInput2.data());
    EXPECT_EQ(PreviousRawAudioInput.data(), RawAudioInput1.data());
    // The next analysis block holds zeros, then the frame just passed in.
    std::vector<float> frame = silence();
    frame[5] = 8388608.0f;
    run(frame);
    EXPECT_EQ(InputAudio[kFrameLength + 5], 1.0f);
    EXPECT_EQ(InputAudio[5], 0.0f);
}

TEST_F(Calculate, LocatesATalkerWithoutAllocating)
{
    const long atStart = Allocations;
    voxaim_initialize(1); // tovak
    if (CountsAllocations) {
        ASSERT_GT(Allocations, atStart); // initialisation allocates: the count works
    }
    const Talker talker(30.0f, 0.0f, 2.0f, 21);
    std::vector<std::vector<float>> frames;
    for (int t = 0; t < 21; ++t)
        frames.push_back(talker.frame(t));
    // A 21 kHz tone on one microphone, well above the talker and above the
    // analysed band: the ultrasound detector judges and logs a warning on
    // the way, the position search does not see it.
    for (int t = 0; t < 21; ++t)
        for (int i = 0; i < kFrameLength; ++i)
            frames[t][i] +=
                5e6f * std::sin(2.0f * static_cast<float>(M_PI) * 21000.0f * (t * kFrameLength + i) / 48000.0f);

    VoxaimResult result{};
    testing::internal::CaptureStderr();
    const long before = Allocations;
    for (const std::vector<float> &frame : frames)
        voxaim_calculate(frame.data(), 24, 0, &result);
    const long during = Allocations - before;
    const std::string log = testing::internal::GetCapturedStderr();
    EXPECT_NE(log.find("Ultrasound level is too high"), std::string::npos);
    if (CountsAllocations) {
        EXPECT_EQ(during, 0);
    } else {
        std::printf("allocation count skipped: the sanitizer's allocator cannot be counted\n");
    }

    // Frame 20 analyses frames 18 and 19, the end of the third burst.
    EXPECT_NEAR(result.azimuth, 30.0f, 3.0f);
    EXPECT_NEAR(result.range, 2.0f, 0.6f);
    EXPECT_NEAR(result.elevation, 0.0f, 5.0f);
    EXPECT_GT(result.quality, 0.0f);
}

// The search map a tuning tool reads: the very cells the results come from,
// read without allocating and without changing any later result.
TEST_F(Calculate, SearchMapShowsTheChosenCellsWithoutAllocatingOrChangingResults)
{
    constexpr float degrees = 57.2957763671875f;
    VoxaimSearchMap elevation{}, range{};
    EXPECT_EQ(voxaim_getSearchMap(VOXAIM_GRID_AZIMUTH_RANGE, &range), 0); // not initialised
    std::vector<VoxaimResult> results[2];
    for (const bool read : {false, true}) {
        voxaim_initialize(1); // tovak
        const Talker talker(30.0f, 10.0f, 2.0f, 12);
        for (int t = 0; t < 12; ++t) {
            const std::vector<float> frame = talker.frame(t);
            const VoxaimResult result = run(frame);
            results[read].push_back(result);
            if (!read)
                continue;
            const long before = Allocations;
            ASSERT_EQ(voxaim_getSearchMap(VOXAIM_GRID_AZIMUTH_ELEVATION, &elevation), 1);
            ASSERT_EQ(voxaim_getSearchMap(VOXAIM_GRID_AZIMUTH_RANGE, &range), 1);
            EXPECT_EQ(Allocations, before);
            ASSERT_EQ(elevation.columnCount, kAzimuthCount);
            ASSERT_EQ(elevation.rowCount, kElevationCount);
            ASSERT_EQ(range.rowCount, kRangeCount);
            EXPECT_EQ(range.azimuths[range.chosen % range.columnCount] * degrees, result.azimuth);
            EXPECT_EQ(elevation.rows[elevation.chosen / elevation.columnCount] * degrees, result.elevation);
            EXPECT_LE(range.rows[range.chosen / range.columnCount], result.range);
            EXPECT_EQ(range.power[range.chosen] + elevation.power[elevation.chosen], result.quality);
            EXPECT_EQ(*std::max_element(range.power, range.power + kAzimuthRangeCells), range.power[range.chosen]);
        }
        voxaim_destroy();
    }
    ASSERT_EQ(results[0].size(), results[1].size());
    for (size_t t = 0; t < results[0].size(); ++t)
        EXPECT_EQ(std::memcmp(&results[0][t], &results[1][t], sizeof(VoxaimResult)), 0) << "frame " << t;
    EXPECT_NEAR(results[1].back().azimuth, 30.0f, 3.0f);

    voxaim_initialize(6); // feyla searches no elevation grid
    EXPECT_EQ(voxaim_getSearchMap(VOXAIM_GRID_AZIMUTH_ELEVATION, &elevation), 0);
    EXPECT_EQ(voxaim_getSearchMap(VOXAIM_GRID_AZIMUTH_RANGE + 1, &elevation), 0);
    EXPECT_EQ(voxaim_getSearchMap(VOXAIM_GRID_AZIMUTH_RANGE, &range), 1);
}

} // namespace
