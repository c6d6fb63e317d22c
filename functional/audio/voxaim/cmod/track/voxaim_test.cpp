// Engine lifecycle, flag helpers and raw-input recording.
#include "functional/audio/voxaim/cmod/track/voxaim.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <unistd.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "functional/audio/voxaim/cmod/track/voxaim_internal.h"
#include "functional/audio/voxaim/cmod/track/voxaim_variants.h"

using namespace voxaim;

namespace {

class EngineTest : public ::testing::Test {
protected:
    void TearDown() override
    {
        voxaim_record_stop();
        voxaim_destroy();
    }
};

TEST_F(EngineTest, EveryVariantInitialisesAndReleasesItsBuffers)
{
    for (const VariantConfig &variant : kVariants) {
        SCOPED_TRACE(variant.name);
        voxaim_initialize(variant.type);
        ASSERT_TRUE(IsTransducersInitialized);
        EXPECT_EQ(ProductType, variant.type);
        EXPECT_EQ(voxaim_getNumberOfChannels(), variant.channels);
        EXPECT_EQ(NumberOfElevationPairs, variant.elevationPairCount);
        EXPECT_EQ(NumberOfAzimuthPairs, variant.azimuthPairCount);
        EXPECT_EQ(AttenuateLoudspeaker, variant.attenuateLoudspeaker ? 1 : 0);
        EXPECT_EQ(TimeoutLimit, 2);
        for (int32_t ch = 0; ch < variant.channels; ++ch) {
            const float *mic = voxaim_getMicrophoneCoordinates(ch);
            EXPECT_EQ(mic, Microphones[ch].data());
            EXPECT_EQ(mic[0], variant.microphones[ch][0]);
            EXPECT_EQ(mic[1], variant.microphones[ch][1]);
            EXPECT_EQ(mic[2], variant.microphones[ch][2]);
        }
        EXPECT_EQ(Loudspeaker[0], variant.loudspeaker);
        // Pairs in list order, each pointing at its own block of its table.
        for (int32_t p = 0; p < NumberOfElevationPairs; ++p) {
            EXPECT_EQ(ElevationPairs[p].firstMicrophone, variant.elevationPairs[p].first);
            EXPECT_EQ(ElevationPairs[p].secondMicrophone, variant.elevationPairs[p].second);
            EXPECT_EQ(ElevationPairs[p].lookupTable, AzimuthElevationLookupTable.data() + p * 29737);
        }
        for (int32_t a = 0; a < NumberOfAzimuthPairs; ++a) {
            EXPECT_EQ(AzimuthPairs[a].firstMicrophone, variant.azimuthPairs[a].first);
            EXPECT_EQ(AzimuthPairs[a].secondMicrophone, variant.azimuthPairs[a].second);
            EXPECT_EQ(AzimuthPairs[a].lookupTable, AzimuthRangeLookupTable.data() + a * 10896);
        }
        EXPECT_EQ(CurrentRawAudioInput.data(), RawAudioInput1.data());
        EXPECT_EQ(PreviousRawAudioInput.data(), RawAudioInput2.data());
        EXPECT_EQ(CurrentNumerator.data(), Numerator1.data());
        EXPECT_EQ(PreviousNumerator.data(), Numerator2.data());
        // Touch the last element of every buffer: ASan reports one whose
        // allocation is smaller than its span.
#define VOXAIM_TOUCH_BUFFER(name, type, blocks, blockLength)                                                           \
    if (name.size() > 0)                                                                                               \
        std::memset(static_cast<void *>(&name[name.size() - 1]), 1, sizeof(type));
        VOXAIM_ENGINE_BUFFERS(VOXAIM_TOUCH_BUFFER)
#undef VOXAIM_TOUCH_BUFFER

        voxaim_destroy();
        EXPECT_FALSE(IsTransducersInitialized);
#define VOXAIM_EXPECT_RELEASED(name, type, blocks, blockLength) EXPECT_FALSE(name) << #name;
        VOXAIM_ENGINE_BUFFERS(VOXAIM_EXPECT_RELEASED)
#undef VOXAIM_EXPECT_RELEASED
        EXPECT_FALSE(CurrentNumerator);
        EXPECT_FALSE(PreviousRawAudioInput);
    }
}

TEST_F(EngineTest, BuffersStartZeroedAfterReinitialisation)
{
    voxaim_initialize(0);
    std::ranges::fill(NoisePowerEstimate.span(), 3.0f);
    std::ranges::fill(Numerator2.span(), 3.0f);
    TimeoutLimit = 35;
    voxaim_destroy();
    voxaim_initialize(0);
    EXPECT_EQ(std::ranges::count(NoisePowerEstimate.span(), 0.0f), 6 * 2049);
    EXPECT_EQ(std::ranges::count(PreviousNumerator.span(), 0.0f), 6 * 4098);
    EXPECT_EQ(TimeoutLimit, 2);
}

TEST_F(EngineTest, FeylaHasNoElevationPairsAndStartsWithAClearElevationAccumulator)
{
    voxaim_initialize(0);
    AzimuthElevationResult[0] = 5.0f;
    AzimuthElevationResult[29736] = 5.0f;
    voxaim_destroy();
    voxaim_initialize(6);
    EXPECT_EQ(NumberOfElevationPairs, 0);
    EXPECT_EQ(NumberOfAzimuthPairs, 3);
    EXPECT_EQ(voxaim_getNumberOfChannels(), 4);
    EXPECT_TRUE(AzimuthElevationLookupTable);
    EXPECT_EQ(AzimuthElevationResult[0], 0.0f);
    EXPECT_EQ(AzimuthElevationResult[29736], 0.0f);
}

TEST_F(EngineTest, DestroyWithoutInitialisationDoesNothing)
{
    voxaim_destroy();
    voxaim_destroy();
    EXPECT_FALSE(IsTransducersInitialized);
    EXPECT_EQ(voxaim_getMicrophoneCoordinates(0), nullptr);
    voxaim_initialize(7);
    voxaim_destroy();
    voxaim_destroy();
    EXPECT_FALSE(IsTransducersInitialized);
    voxaim_initialize(7); // a second life after a double destroy
    EXPECT_TRUE(IsTransducersInitialized);
    EXPECT_NE(voxaim_getMicrophoneCoordinates(7), nullptr);
    EXPECT_EQ(voxaim_getMicrophoneCoordinates(8), nullptr);
    EXPECT_EQ(voxaim_getMicrophoneCoordinates(-1), nullptr);
}

using EngineDeathTest = EngineTest;

TEST_F(EngineDeathTest, InvalidProductTypesStop)
{
    const char *expected = "functional/audio/voxaim/cmod/track/voxaim.cpp:[0-9]+: .*voxaim_initialize.*: "
                           "Assertion `false' failed";
    EXPECT_DEATH(voxaim_initialize(3), expected);
    EXPECT_DEATH(voxaim_initialize(8), expected);
    EXPECT_DEATH(voxaim_initialize(0xFFFFFFFFu), expected);
}

TEST_F(EngineDeathTest, SecondInitialisationStops)
{
    EXPECT_DEATH(
        {
            voxaim_initialize(0);
            voxaim_initialize(0);
        },
        "voxaim\\.cpp:[0-9]+: .*voxaim_initialize.*: Assertion `!IsTransducersInitialized' failed");
}

TEST(Flags, ReadAndWriteSingleBits)
{
    EXPECT_EQ(voxaim_getFlag(3, 0x8), 1u);
    EXPECT_EQ(voxaim_getFlag(2, 0x8), 0u);
    EXPECT_EQ(voxaim_getFlag(31, 0x80000000u), 1u);

    uint32_t word = 0;
    voxaim_setFlag(7, 1, &word);
    EXPECT_EQ(word, 0x80u);
    word = 0xFF;
    voxaim_setFlag(0, 0, &word);
    EXPECT_EQ(word, 0xFEu);
    voxaim_setFlag(31, 1, &word);
    EXPECT_EQ(word, 0x800000FEu);
    // Setting keeps the other bits; a value other than 0 or 1 sets just the bit.
    word = 0;
    voxaim_setFlag(4, 2, &word);
    EXPECT_EQ(word, 0x10u);
    // Bit numbers beyond the word change nothing and read as 0.
    word = 0x1234;
    voxaim_setFlag(32, 1, &word);
    voxaim_setFlag(200, 0, &word);
    EXPECT_EQ(word, 0x1234u);
    EXPECT_EQ(voxaim_getFlag(32, 0xFFFFFFFFu), 0u);
}

class RecordingTest : public EngineTest {
protected:
    std::string path(const char *name) const
    {
        return (std::filesystem::path(::testing::TempDir()) /
                (std::string("voxaim_recording_") + std::to_string(getpid()) + "_" + name))
            .string();
    }
    static std::vector<unsigned char> readAll(const std::string &file)
    {
        std::ifstream in(file, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }
    template <typename T>
    static T readAt(const std::vector<unsigned char> &bytes, std::size_t offset)
    {
        T value;
        std::memcpy(&value, bytes.data() + offset, sizeof value);
        return value;
    }
};

TEST_F(RecordingTest, HeaderThenOneRecordPerFrame)
{
    voxaim_initialize(1); // tovak: 8 channels
    const std::string file = path("frames");
    ASSERT_EQ(voxaim_record_start(file.c_str()), 1);
    std::vector<float> frame(8 * 2048);
    for (int f = 0; f < 3; ++f) {
        for (std::size_t i = 0; i < frame.size(); ++i)
            frame[i] = static_cast<float>(f * 100000 + i) - 0.5f;
        recordRawFrame(frame.data(), 24, 0x3u - f);
    }
    voxaim_record_stop();

    const std::vector<unsigned char> bytes = readAll(file);
    constexpr std::size_t kRecord = 8 + 8 * 8192;
    ASSERT_EQ(bytes.size(), 4 + 3 * kRecord);
    EXPECT_EQ(bytes[0], 0xAC);
    EXPECT_EQ(bytes[1], 0x01);
    EXPECT_EQ(bytes[2], 1); // product type
    EXPECT_EQ(bytes[3], 8); // channels
    // Little-endian sample width: 24 = 18 00 00 00.
    EXPECT_EQ(bytes[4], 0x18);
    EXPECT_EQ(bytes[5], 0x00);
    EXPECT_EQ(bytes[7], 0x00);
    for (int f = 0; f < 3; ++f) {
        const std::size_t record = 4 + f * kRecord;
        EXPECT_EQ(readAt<int32_t>(bytes, record), 24);
        EXPECT_EQ(readAt<uint32_t>(bytes, record + 4), 0x3u - f);
        EXPECT_EQ(readAt<float>(bytes, record + 8), static_cast<float>(f * 100000) - 0.5f);
        EXPECT_EQ(readAt<float>(bytes, record + kRecord - 4), static_cast<float>(f * 100000 + 8 * 2048 - 1) - 0.5f);
    }
    std::remove(file.c_str());
}

TEST_F(RecordingTest, UnopenablePathLeavesNoRecording)
{
    voxaim_initialize(0);
    EXPECT_EQ(voxaim_record_start("/nonexistent-voxaim-dir/recording.bin"), 0);
    EXPECT_EQ(voxaim_record_start(nullptr), 0);
    std::vector<float> frame(6 * 2048, 1.0f);
    recordRawFrame(frame.data(), 24, 0); // nothing open: nothing written, no crash
}

TEST_F(RecordingTest, RestartClosesTheFirstFileAndDestroyStopsRecording)
{
    voxaim_initialize(6); // feyla: 4 channels
    const std::string first = path("first");
    const std::string second = path("second");
    std::vector<float> frame(4 * 2048, 2.0f);
    ASSERT_EQ(voxaim_record_start(first.c_str()), 1);
    recordRawFrame(frame.data(), 24, 1);
    ASSERT_EQ(voxaim_record_start(second.c_str()), 1);
    EXPECT_EQ(readAll(first).size(), 4u + 8 + 4 * 8192); // closed, hence complete

    recordRawFrame(frame.data(), 16, 2);
    voxaim_destroy();
    recordRawFrame(frame.data(), 16, 2); // after destroy: no longer recording
    const std::vector<unsigned char> bytes = readAll(second);
    ASSERT_EQ(bytes.size(), 4u + 8 + 4 * 8192);
    EXPECT_EQ(bytes[2], 6);
    EXPECT_EQ(bytes[3], 4);
    EXPECT_EQ(readAt<int32_t>(bytes, 4), 16);

    // Starting again truncates.
    voxaim_initialize(6);
    ASSERT_EQ(voxaim_record_start(first.c_str()), 1);
    voxaim_record_stop();
    EXPECT_EQ(readAll(first).size(), 4u);
    std::remove(first.c_str());
    std::remove(second.c_str());
}

} // namespace
