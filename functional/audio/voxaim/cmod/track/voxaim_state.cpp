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

MicrophonePair *AzimuthPairs = nullptr;
MicrophonePair *ElevationPairs = nullptr;
Point *Microphones = nullptr;
Point *Loudspeaker = nullptr;

std::array<float, kAzimuthCount> AzimuthAngles{};
std::array<float, kElevationCount> ElevationAngles{};
std::array<float, kRangeCount> Ranges{};

int16_t *AzimuthElevationLookupTable = nullptr;
int16_t *AzimuthRangeLookupTable = nullptr;
uint32_t *AzimuthElevationOffsets = nullptr;
uint32_t *AzimuthRangeOffsets = nullptr;

float *RawAudioInput1 = nullptr;
float *RawAudioInput2 = nullptr;
float *CurrentRawAudioInput = nullptr;
float *PreviousRawAudioInput = nullptr;
float *InputAudio = nullptr;
float *FftResult = nullptr;
float *NoisePowerEstimate = nullptr;
float *FrequencyWeight = nullptr;
float *Numerator1 = nullptr;
float *Numerator2 = nullptr;
float *CurrentNumerator = nullptr;
float *PreviousNumerator = nullptr;
uint8_t *TimeoutCounter = nullptr;
uint8_t TimeoutLimit = 2;
float *AzimuthQuality = nullptr;
float *ElevationQuality = nullptr;
int32_t BlockedCounter = 0;
int32_t UnwrittenElevationCell = 0;

alignas(16) std::array<float, kBlockLength> HammingWindow{};
alignas(16) std::array<float, kBlockLength> ATable{};
alignas(16) std::array<float, kBlockLength> BTable{};
alignas(16) std::array<float, kUpsampledLength> ATableUpsampled{};
alignas(16) std::array<float, kUpsampledLength> BTableUpsampled{};
alignas(16) std::array<float, kBlockLength> TwiddleFactors{};
alignas(16) std::array<float, kUpsampledLength> TwiddleFactorsUpsampled{};
alignas(16) std::array<float, kFftScratchFloats> FftInput{};
alignas(16) std::array<float, kFftScratchFloats> FftOutput{};
alignas(16) std::array<float, kUpsampledLength> CorrelationSpectrum{};
alignas(16) std::array<float, kUpsampledLength> CorrelationWindows{};
alignas(16) std::array<uint32_t, kUpsampledLength> QualityOffsets{};
alignas(16) std::array<float, kAzimuthElevationCells> AzimuthElevationResult{};
alignas(16) std::array<float, kAzimuthRangeCells> AzimuthRangeResult{};
