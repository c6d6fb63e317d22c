// Engine lifecycle: variant selection, allocation and release of the engine's
// buffers (the list VOXAIM_ENGINE_BUFFERS), table building and the getters.
// The flag helpers, the raw-input recording and the energy service have
// sources of their own.
#include "functional/audio/voxaim/cmod/track/voxaim.h"

#include <cassert>
#include <cstdlib>
#include <memory>
#include <type_traits>

#include "functional/audio/voxaim/cmod/track/FrequencyDomainActivityDetection.h"
#include "functional/audio/voxaim/cmod/track/NoiseLevelEstimation.h"
#include "functional/audio/voxaim/cmod/track/TimeDomainActivityDetection.h"
#include "functional/audio/voxaim/cmod/track/UltraSoundDistortionDetection.h"
#include "functional/audio/voxaim/cmod/track/voxaim_energy.h"
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
// alias them while the engine is initialised.
struct EngineBuffers {
#define VOXAIM_BUFFER_OWNER(name, type, blocks, blockLength) Owned<type> name;
    VOXAIM_ENGINE_BUFFERS(VOXAIM_BUFFER_OWNER)
#undef VOXAIM_BUFFER_OWNER
};
EngineBuffers Buffers;

// Allocates every buffer of the list into its owner and points the module
// buffer of the same name at it, stopping with the buffer's name when memory
// is short, before anything uses it. The double buffers start as current =
// 1, previous = 2.
void allocateBuffers()
{
    // The names the list's counts are written in.
    const std::size_t channels = static_cast<std::size_t>(NumberOfChannels);
    const std::size_t elevationPairs = static_cast<std::size_t>(NumberOfElevationPairs);
    const std::size_t azimuthPairs = static_cast<std::size_t>(NumberOfAzimuthPairs);
    const std::size_t pairs = elevationPairs + azimuthPairs;
#define VOXAIM_ALLOCATE_BUFFER(name, type, blocks, blockLength)                                                         \
    {                                                                                                                  \
        const std::size_t count = (blocks) * std::size_t{blockLength};                                                 \
        Buffers.name = allocateZeroed<type>(count);                                                                    \
        name.assign(std::span<type>(Buffers.name.get(), Buffers.name ? count : 0));                                    \
        assert(name);                                                                                                  \
    }
    VOXAIM_ENGINE_BUFFERS(VOXAIM_ALLOCATE_BUFFER)
#undef VOXAIM_ALLOCATE_BUFFER
    CurrentRawAudioInput = RawAudioInput1;
    PreviousRawAudioInput = RawAudioInput2;
    CurrentNumerator = Numerator1;
    PreviousNumerator = Numerator2;
}

void releaseBuffers()
{
    Buffers = EngineBuffers{};
#define VOXAIM_FORGET_BUFFER(name, type, blocks, blockLength) name = {};
    VOXAIM_ENGINE_BUFFERS(VOXAIM_FORGET_BUFFER)
#undef VOXAIM_FORGET_BUFFER
    CurrentRawAudioInput = PreviousRawAudioInput = {};
    CurrentNumerator = PreviousNumerator = {};
}

// The variant's counts and grid parameters, and its channels for the activity
// and noise detectors.
void configureVariant(const VariantConfig &variant)
{
    NumberOfChannels = variant.channels;
    NumberOfElevationPairs = variant.elevationPairCount;
    NumberOfAzimuthPairs = variant.azimuthPairCount;
    MinimumAzimuth = variant.minimumAzimuth;
    MinimumElevation = variant.minimumElevation;
    AngleInterval = variant.angleInterval;
    setTimeDomainVadChannel(kTimeDomainVadChannel);
    setFrequencyDomainVadChannels(variant.frequencyDomainVadChannels[0], variant.frequencyDomainVadChannels[1]);
    setNoiseLevelChannels(variant.noiseLevelChannels[0], variant.noiseLevelChannels[1]);
    AttenuateLoudspeaker = variant.attenuateLoudspeaker ? 1 : 0;
}

// Microphone and loudspeaker positions of the variant, then every pair
// record, elevation pairs first, each list in search order.
void initializeTransducerData(const VariantConfig &variant)
{
    for (int32_t ch = 0; ch < NumberOfChannels; ++ch)
        Microphones[ch] = variant.microphones[ch];
    Loudspeaker[0] = variant.loudspeaker;
    for (int32_t p = 0; p < NumberOfElevationPairs; ++p) {
        const PairIndices pair = variant.elevationPairs[p];
        initializeSinglePair(&ElevationPairs[p], pair.first, pair.second);
    }
    for (int32_t a = 0; a < NumberOfAzimuthPairs; ++a) {
        const PairIndices pair = variant.azimuthPairs[a];
        initializeSinglePair(&AzimuthPairs[a], pair.first, pair.second);
    }
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

void checkMemoryAllocation()
{
    assert(NumberOfChannels > 0);
    assert(NumberOfAzimuthPairs > 0);
    assert(MinimumElevation != 0.0f);
    assert(MinimumAzimuth != 0.0f);
    assert(AngleInterval > 0.0f);
}

} // namespace

extern "C" void voxaim_initialize(uint32_t type)
{
    ProductType = type;

    const VariantConfig *variant = findVariant(type);
    if (variant == nullptr)
        assert(false); // an invalid product type: the assertion "false"
    configureVariant(*variant);

    assert(!IsTransducersInitialized);

    allocateBuffers();
    IsTransducersInitialized = 0;
    TimeoutLimit = 2;

    voxaim_generateHammingWindow(HammingWindow.data(), static_cast<int32_t>(HammingWindow.size()));
    voxaim_generateAbTables(ATable.data(), BTable.data(), kBlockLength / 2);
    voxaim_generateAbTables(ATableUpsampled.data(), BTableUpsampled.data(), kUpsampledLength / 2);

    initializeTransducerData(*variant);
    for (int32_t p = 0; p < NumberOfElevationPairs; ++p)
        ElevationPairs[p].lookupTable = AzimuthElevationLookupTable.block(p).data();
    for (int32_t a = 0; a < NumberOfAzimuthPairs; ++a)
        AzimuthPairs[a].lookupTable = AzimuthRangeLookupTable.block(a).data();
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
    if (!Microphones || index < 0 || index >= NumberOfChannels)
        return nullptr;
    return Microphones[index].data();
}

// The energy service (voxaim_energy.cpp) neither reads nor changes the engine
// state; its channel count is checked here so that the assertion names the
// engine's source, as the engine's other preconditions do.
extern "C" void voxaim_calculateSignalEnergy(const float *frame, int32_t bitsPerSample, int32_t nchannels,
                                             float *energies)
{
    assert(nchannels <= VOXAIM_MAX_CHANNELS);
    assert(nchannels > 0);
    signalEnergy(frame, bitsPerSample, nchannels, energies);
}
