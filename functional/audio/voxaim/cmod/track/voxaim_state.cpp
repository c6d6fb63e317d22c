// The engine's module state: every variable the engine keeps between calls,
// defined in this one place. voxaim.cpp allocates and releases the per-variant
// buffers these pointers refer to.
#include "functional/audio/voxaim/cmod/track/voxaim_internal.h"

using namespace voxaim;

uint32_t ProductType = 0;
int32_t NumberOfChannels = 0;
int32_t NumberOfAzimuthPairs = 0;
int32_t NumberOfElevationPairs = 0;
float MinimumAzimuth = 0.0f;
float MinimumElevation = 0.0f;
float AngleInterval = 0.0f;
uint8_t AttenuateLoudspeaker = 0;
uint8_t IsTransducersInitialized = 0;

// The per-variant buffers (VOXAIM_ENGINE_BUFFERS), empty until voxaim_initialize.
#define VOXAIM_DEFINE_BUFFER(name, type, blocks, blockLength) EngineBuffer<type, blockLength> name;
VOXAIM_ENGINE_BUFFERS(VOXAIM_DEFINE_BUFFER)
#undef VOXAIM_DEFINE_BUFFER
decltype(RawAudioInput1) CurrentRawAudioInput;
decltype(RawAudioInput1) PreviousRawAudioInput;
decltype(Numerator1) CurrentNumerator;
decltype(Numerator1) PreviousNumerator;

std::array<float, kAzimuthCount> AzimuthAngles{};
std::array<float, kElevationCount> ElevationAngles{};
std::array<float, kRangeCount> Ranges{};

uint8_t TimeoutLimit = 2;
int32_t BlockedCounter = 0;
int32_t UnwrittenElevationCell = 0;

alignas(16) std::array<float, kBlockLength> HammingWindow{};
alignas(16) std::array<float, kBlockLength> ATable{};
alignas(16) std::array<float, kBlockLength> BTable{};
alignas(16) std::array<float, kUpsampledLength> ATableUpsampled{};
alignas(16) std::array<float, kUpsampledLength> BTableUpsampled{};
alignas(16) std::array<float, kFftScratchFloats> FftInput{};
alignas(16) std::array<float, kFftScratchFloats> FftOutput{};
alignas(16) std::array<float, kUpsampledLength> CorrelationSpectrum{};
alignas(16) std::array<float, kUpsampledLength> CorrelationWindows{};
alignas(16) std::array<uint32_t, kUpsampledLength> QualityOffsets{};
alignas(16) std::array<float, kAzimuthElevationCells> AzimuthElevationResult{};
alignas(16) std::array<float, kAzimuthRangeCells> AzimuthRangeResult{};
