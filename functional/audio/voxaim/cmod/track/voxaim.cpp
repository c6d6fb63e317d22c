// Engine lifecycle: variant selection, allocation and release of the engine's
// buffers, table building, getters, flag helpers and raw-input recording.
#include "functional/audio/voxaim/cmod/track/voxaim.h"

#include <bit>
#include <cassert>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <type_traits>

#include "functional/audio/voxaim/cmod/track/FrequencyDomainActivityDetection.h"
#include "functional/audio/voxaim/cmod/track/NoiseLevelEstimation.h"
#include "functional/audio/voxaim/cmod/track/TimeDomainActivityDetection.h"
#include "functional/audio/voxaim/cmod/track/UltraSoundDistortionDetection.h"
#include "functional/audio/voxaim/cmod/track/voxaim_fft.h"
#include "functional/audio/voxaim/cmod/track/voxaim_geometry.h"
#include "functional/audio/voxaim/cmod/track/voxaim_internal.h"
#include "functional/audio/voxaim/cmod/track/voxaim_search.h"
#include "functional/audio/voxaim/cmod/track/voxaim_variants.h"
#include "functional/audio/voxaim/cmod/track/voxaim_window.h"

using namespace voxaim;

namespace {

struct FreeBuffer {
    void operator()(void *buffer) const noexcept { std::free(buffer); }
};
template <typename T>
using Owned = std::unique_ptr<T[], FreeBuffer>;

// A zero-filled array of `count` elements; null when memory is short. An empty
// array still gets one element, so that a variant without elevation pairs has
// a valid (empty) elevation table. Only trivial element types: zero bytes are
// their zero value.
template <typename T>
Owned<T> allocateZeroed(std::size_t count)
{
    static_assert(std::is_trivially_copyable_v<T>);
    return Owned<T>(static_cast<T *>(std::calloc(count == 0 ? 1 : count, sizeof(T))));
}

// The owners of the per-variant buffers. The module pointers of the same names
// (voxaim_internal.h) alias them while the engine is initialised.
struct EngineBuffers {
    Owned<float> InputAudio;
    Owned<float> RawAudioInput1;
    Owned<float> RawAudioInput2;
    Owned<float> FftResult;
    Owned<float> Numerator1;
    Owned<float> Numerator2;
    Owned<float> NoisePowerEstimate;
    Owned<float> FrequencyWeight;
    Owned<uint8_t> TimeoutCounter;
    Owned<int16_t> AzimuthElevationLookupTable;
    Owned<int16_t> AzimuthRangeLookupTable;
    Owned<uint32_t> AzimuthElevationOffsets;
    Owned<uint32_t> AzimuthRangeOffsets;
    Owned<Point> Microphones;
    Owned<Point> Loudspeaker;
    Owned<MicrophonePair> AzimuthPairs;
    Owned<MicrophonePair> ElevationPairs;
    Owned<float> AzimuthQuality;
    Owned<float> ElevationQuality;
};
EngineBuffers Buffers;

// Allocates a buffer into its owner, points the module pointer of the same
// name at it, and stops with the buffer's name when memory is short, before
// anything uses it.
#define ALLOCATE_ZEROED(buffer, count)                                                                                 \
    do {                                                                                                               \
        Buffers.buffer = allocateZeroed<decltype(Buffers.buffer)::element_type>(count);                                \
        buffer = Buffers.buffer.get();                                                                                 \
        assert(buffer);                                                                                                \
    } while (0)

struct CloseFile {
    void operator()(std::FILE *file) const noexcept { std::fclose(file); }
};
// The raw-input recording, when one is open.
std::unique_ptr<std::FILE, CloseFile> recording;

static_assert(std::endian::native == std::endian::little,
              "the recording format is little-endian, written in native order");

void allocateBuffers()
{
    const std::size_t channels = static_cast<std::size_t>(NumberOfChannels);
    const std::size_t pairs = static_cast<std::size_t>(NumberOfElevationPairs + NumberOfAzimuthPairs);
    ALLOCATE_ZEROED(InputAudio, channels * kBlockLength);
    ALLOCATE_ZEROED(RawAudioInput1, channels * kFrameLength);
    ALLOCATE_ZEROED(RawAudioInput2, channels * kFrameLength);
    CurrentRawAudioInput = RawAudioInput1;
    PreviousRawAudioInput = RawAudioInput2;
    ALLOCATE_ZEROED(FftResult, channels * kSpectrumFloats);
    ALLOCATE_ZEROED(Numerator1, pairs * kSpectrumFloats);
    ALLOCATE_ZEROED(Numerator2, pairs * kSpectrumFloats);
    CurrentNumerator = Numerator1;
    PreviousNumerator = Numerator2;
    ALLOCATE_ZEROED(NoisePowerEstimate, channels * kSpectrumBins);
    ALLOCATE_ZEROED(FrequencyWeight, channels * kSpectrumBins);
    ALLOCATE_ZEROED(TimeoutCounter, pairs * kSpectrumBins);
    ALLOCATE_ZEROED(AzimuthElevationLookupTable,
                    static_cast<std::size_t>(NumberOfElevationPairs) * kAzimuthElevationCells);
    ALLOCATE_ZEROED(AzimuthRangeLookupTable, static_cast<std::size_t>(NumberOfAzimuthPairs) * kAzimuthRangeCells);
    ALLOCATE_ZEROED(AzimuthElevationOffsets,
                    static_cast<std::size_t>(NumberOfElevationPairs) * kAzimuthElevationGroupedCells);
    ALLOCATE_ZEROED(AzimuthRangeOffsets, static_cast<std::size_t>(NumberOfAzimuthPairs) * kAzimuthRangeCells);
    ALLOCATE_ZEROED(Microphones, channels);
    ALLOCATE_ZEROED(Loudspeaker, 1);
    ALLOCATE_ZEROED(AzimuthPairs, static_cast<std::size_t>(NumberOfAzimuthPairs));
    ALLOCATE_ZEROED(ElevationPairs, static_cast<std::size_t>(NumberOfElevationPairs));
    ALLOCATE_ZEROED(AzimuthQuality, static_cast<std::size_t>(NumberOfAzimuthPairs));
    ALLOCATE_ZEROED(ElevationQuality, static_cast<std::size_t>(NumberOfElevationPairs));
}

void releaseBuffers()
{
    Buffers = EngineBuffers{};
    InputAudio = RawAudioInput1 = RawAudioInput2 = nullptr;
    CurrentRawAudioInput = PreviousRawAudioInput = nullptr;
    FftResult = Numerator1 = Numerator2 = CurrentNumerator = PreviousNumerator = nullptr;
    NoisePowerEstimate = FrequencyWeight = nullptr;
    TimeoutCounter = nullptr;
    AzimuthElevationLookupTable = AzimuthRangeLookupTable = nullptr;
    AzimuthElevationOffsets = AzimuthRangeOffsets = nullptr;
    Microphones = Loudspeaker = nullptr;
    AzimuthPairs = ElevationPairs = nullptr;
    AzimuthQuality = ElevationQuality = nullptr;
}

// Microphone and loudspeaker positions of the active variant, then every pair
// record, elevation pairs first, each list in search order.
void initializeTransducerData()
{
    const VariantConfig *found = findVariant(ProductType);
    if (found == nullptr)
        assert(false);
    const VariantConfig &variant = *found;
    for (int32_t ch = 0; ch < NumberOfChannels; ++ch)
        Microphones[ch] = variant.microphones[ch];
    *Loudspeaker = variant.loudspeaker;
    for (int32_t p = 0; p < NumberOfElevationPairs; ++p) {
        const PairIndices pair = variant.elevationPairs[p];
        initializeSinglePair(&ElevationPairs[p], pair.first, pair.second);
    }
    for (int32_t a = 0; a < NumberOfAzimuthPairs; ++a) {
        const PairIndices pair = variant.azimuthPairs[a];
        initializeSinglePair(&AzimuthPairs[a], pair.first, pair.second);
    }
}

// --- Detectors --------------------------------------------------------------
// The variant's channels for the activity and noise detectors.
void configureDetectors(const VariantConfig &variant)
{
    setTimeDomainVadChannel(kTimeDomainVadChannel);
    setFrequencyDomainVadChannels(variant.frequencyDomainVadChannels[0], variant.frequencyDomainVadChannels[1]);
    setNoiseLevelChannels(variant.noiseLevelChannels[0], variant.noiseLevelChannels[1]);
}

// Restarts every detector; the ultrasound detector keeps levels for each of
// the variant's channels.
void initializeDetectors()
{
    intializeNoiseLevel();
    initializeFrequencyDomainActivityDetector();
    initializeTimeDomainActivityDetector();
    initializeUltraSoundDistortionDetector(NumberOfChannels);
}
// -----------------------------------------------------------------------------

void checkMemoryAllocation()
{
    assert(NumberOfChannels > 0);
    assert(NumberOfAzimuthPairs > 0);
    assert(MinimumElevation != 0.0f);
    assert(MinimumAzimuth != 0.0f);
    assert(AngleInterval > 0.0f);
    assert(InputAudio);
    assert(RawAudioInput1);
    assert(RawAudioInput2);
    assert(FftResult);
    assert(Numerator1);
    assert(Numerator2);
    assert(NoisePowerEstimate);
    assert(FrequencyWeight);
    assert(TimeoutCounter);
    assert(AzimuthElevationLookupTable);
    assert(AzimuthRangeLookupTable);
    assert(Microphones);
    assert(Loudspeaker);
    assert(AzimuthPairs);
    assert(AzimuthQuality);
    assert(ElevationQuality);
}

} // namespace

extern "C" void voxaim_initialize(uint32_t type)
{
    ProductType = type;

    const VariantConfig *variant = findVariant(type);
    if (variant == nullptr)
        assert(false);
    NumberOfChannels = variant->channels;
    NumberOfElevationPairs = variant->elevationPairCount;
    NumberOfAzimuthPairs = variant->azimuthPairCount;
    MinimumAzimuth = variant->minimumAzimuth;
    MinimumElevation = variant->minimumElevation;
    AngleInterval = variant->angleInterval;
    configureDetectors(*variant);
    AttenuateLoudspeaker = variant->attenuateLoudspeaker ? 1 : 0;

    assert(!IsTransducersInitialized);

    allocateBuffers();
    IsTransducersInitialized = 0;
    TimeoutLimit = 2;

    voxaim_generateHammingWindow(HammingWindow.data(), static_cast<int32_t>(HammingWindow.size()));
    voxaim_generateAbTables(ATable.data(), BTable.data(), kBlockLength / 2);
    voxaim_generateAbTables(ATableUpsampled.data(), BTableUpsampled.data(), kUpsampledLength / 2);

    initializeTransducerData();
    for (int32_t p = 0; p < NumberOfElevationPairs; ++p)
        ElevationPairs[p].lookupTable = AzimuthElevationLookupTable + p * kAzimuthElevationCells;
    for (int32_t a = 0; a < NumberOfAzimuthPairs; ++a)
        AzimuthPairs[a].lookupTable = AzimuthRangeLookupTable + a * kAzimuthRangeCells;
    IsTransducersInitialized = 1;

    initializeGrids();
    initializeDelayTables();
    initializeLagOffsets();

    // A variant without elevation pairs never writes the elevation accumulator:
    // start both from zero rather than from what an earlier variant left.
    AzimuthElevationResult.fill(0.0f);
    AzimuthRangeResult.fill(0.0f);
    UnwrittenElevationCell = voxaim::bestCell(AzimuthElevationResult, AzimuthAngles, ElevationAngles);

    initializeDetectors();

    checkMemoryAllocation();
    assert(IsTransducersInitialized);
}

extern "C" void voxaim_destroy(void)
{
    if (!IsTransducersInitialized)
        return;
    releaseBuffers();
    destroyUltraSoundDistortionDetector();
    voxaim_record_stop();
    IsTransducersInitialized = 0;
}

extern "C" int32_t voxaim_getNumberOfChannels(void) { return NumberOfChannels; }

extern "C" const float *voxaim_getMicrophoneCoordinates(int32_t index)
{
    if (Microphones == nullptr || index < 0 || index >= NumberOfChannels)
        return nullptr;
    return Microphones[index].data();
}

extern "C" void voxaim_setFlag(uint32_t bit, uint32_t value, uint32_t *word)
{
    if (bit >= 32)
        return;
    *word = (*word & ~(UINT32_C(1) << bit)) | (static_cast<uint32_t>(value != 0) << bit);
}

extern "C" uint32_t voxaim_getFlag(uint32_t bit, uint32_t word)
{
    if (bit >= 32)
        return 0;
    return (word >> bit) & 1u;
}

extern "C" int voxaim_record_start(const char *path)
{
    voxaim_record_stop();
    if (path == nullptr)
        return 0;
    recording.reset(std::fopen(path, "wb"));
    if (!recording)
        return 0;
    const unsigned char header[4] = {0xAC, 0x01, static_cast<unsigned char>(ProductType & 0xFF),
                                     static_cast<unsigned char>(NumberOfChannels & 0xFF)};
    if (std::fwrite(header, sizeof header, 1, recording.get()) != 1) {
        recording.reset();
        return 0;
    }
    return 1;
}

extern "C" void voxaim_record_stop(void) { recording.reset(); }

void recordRawFrame(const float *frame, int32_t bitsPerSample, uint32_t inputFlags)
{
    if (!recording)
        return;
    std::FILE *file = recording.get();
    std::fwrite(&bitsPerSample, sizeof bitsPerSample, 1, file);
    std::fwrite(&inputFlags, sizeof inputFlags, 1, file);
    std::fwrite(frame, sizeof(float), static_cast<std::size_t>(NumberOfChannels) * kFrameLength, file);
}

// Per-channel energy of one input frame: a stand-alone service that neither
// reads nor changes the engine state.
extern "C" void voxaim_calculateSignalEnergy(const float *frame, int32_t bitsPerSample, int32_t nchannels,
                                             float *energies)
{
    assert(nchannels <= VOXAIM_MAX_CHANNELS);
    assert(nchannels > 0);

    // The scale of voxaim_normalizeInput: full scale becomes 1.0.
    const float scale = inputScale(bitsPerSample);
    for (int ch = 0; ch < VOXAIM_MAX_CHANNELS; ++ch)
        energies[ch] = 0.0f;

    for (int ch = 0; ch < nchannels; ++ch) {
        const float *samples = frame + ch * VOXAIM_FRAME_LENGTH;
        // Four interleaved partial sums, as a four-lane vector accumulates them.
        float sum[4] = {0.0f, 0.0f, 0.0f, 0.0f};
        for (int i = 0; i < VOXAIM_FRAME_LENGTH; i += 4) {
            for (int lane = 0; lane < 4; ++lane) {
                const float s = samples[i + lane] * scale;
                sum[lane] += s * s;
            }
        }
        energies[ch] = (sum[0] + sum[2]) + (sum[1] + sum[3]);
    }
}
