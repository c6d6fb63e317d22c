#ifndef FUNCTIONAL_AUDIO_VOXAIM_CMOD_TRACK_VOXAIM_INTERNAL_H
#define FUNCTIONAL_AUDIO_VOXAIM_CMOD_TRACK_VOXAIM_INTERNAL_H
/*
 * Engine module state shared by the engine's own sources (lifecycle, geometry,
 * frame analysis, position search). Not for callers of the engine.
 *
 * All state is defined once, in voxaim_state.cpp. Buffers that depend on the
 * product variant are spans here (EngineBuffer); they are allocated
 * zero-filled in voxaim_initialize, owned there, and empty while the engine
 * is not initialised. Fixed-size tables and scratch buffers are module arrays.
 */
#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <span>

#include "functional/audio/voxaim/cmod/track/voxaim.h"
#include "functional/audio/voxaim/cmod/track/voxaim_kernels.h"
#include "functional/audio/voxaim/cmod/track/voxaim_layout.h"
#include "functional/audio/voxaim/cmod/track/voxaim_spectrum.h"

namespace voxaim {

static_assert(kFrameLength == VOXAIM_FRAME_LENGTH);
inline constexpr int kUpsampledLength = 4 * kBlockLength;      // 16384-lag correlation
inline constexpr int kFftScratchFloats = kUpsampledLength + 8; // FftInput / FftOutput

inline constexpr int kAzimuthCount = 227;
inline constexpr int kElevationCount = 131;
inline constexpr int kRangeCount = 48;
inline constexpr int kAzimuthElevationCells = kElevationCount * kAzimuthCount; // 29737
inline constexpr int kAzimuthRangeCells = kRangeCount * kAzimuthCount;         // 10896

static_assert(kFftScratchFloats == 16392);
static_assert(kAzimuthElevationCells == 29737 && kAzimuthRangeCells == 10896);

// The input scale 1 / 2^(bitsPerSample - 1) in single precision: full scale
// becomes 1.0. The exponent is formed in 64 bits and bounded, so a damaged
// sample width (INT_MIN, say) gives 0 or infinity instead of an overflow.
inline float inputScale(int32_t bitsPerSample)
{
    const int64_t exponent = std::clamp<int64_t>(1 - int64_t{bitsPerSample}, -1024, 1024);
    return std::ldexp(1.0f, static_cast<int>(exponent));
}

} // namespace voxaim

// One microphone pair. Zero-filled at allocation; set by initializeSinglePair
// and, for lookupTable, by voxaim_initialize.
struct MicrophonePair {
    int16_t firstMicrophone;
    int16_t secondMicrophone;
    int16_t *lookupTable; // this pair's block of its delay table
    int16_t lagsAhead;    // the table's lags lie in 0 ... lagsAhead - 1
    int16_t lagsBehind;   // and 16384 - lagsBehind ... 16383
    int32_t windowStart;  // lag -lagsBehind's element of CorrelationWindows
    int32_t qualityStart; // the pair's run of QualityOffsets
    int32_t qualityCount;
    int16_t upperBin;             // highest analysed bin (1451)
    int16_t lowerBin;             // lowest analysed bin, from the microphone spacing
    int16_t loudspeakerLagWidth;  // half width of the suppressed lag band (0 when off)
    int16_t loudspeakerLag;       // lag of the loudspeaker's direct path, 0 ... 16383
    float loudspeakerAttenuation; // factor applied to that band (1.0 when off)
};

// --- Variant configuration --------------------------------------------------
extern uint32_t ProductType;
extern int32_t NumberOfChannels;
extern int32_t NumberOfAzimuthPairs;
extern int32_t NumberOfElevationPairs;
extern float MinimumAzimuth;
extern float MinimumElevation;
extern float AngleInterval;
extern uint8_t AttenuateLoudspeaker;
extern uint8_t IsTransducersInitialized;

// --- Buffers allocated per variant -----------------------------------------
// A buffer allocated per variant: its elements (none while the engine is not
// initialised), in blocks of BlockLength elements, one block per channel or
// per pair. block(i) is block i; span() is the whole buffer.
template <typename T, std::size_t BlockLength>
class EngineBuffer {
public:
    using element_type = T;
    static constexpr std::size_t kBlockLength = BlockLength;

    std::span<T> span() const noexcept { return elements_; }
    std::span<T, BlockLength> block(std::size_t index) const noexcept
    {
        return std::span<T, BlockLength>(elements_.data() + index * BlockLength, BlockLength);
    }
    T *data() const noexcept { return elements_.data(); }
    std::size_t size() const noexcept { return elements_.size(); }
    T &operator[](std::size_t index) const noexcept { return elements_[index]; }
    explicit operator bool() const noexcept { return elements_.data() != nullptr; }

    void assign(std::span<T> elements) noexcept { elements_ = elements; }

private:
    std::span<T> elements_;
};

// The one list of the engine's per-variant buffers: name, element type,
// number of blocks and elements per block (1 for buffers of single records).
// Each entry is a module EngineBuffer of that name, declared below and
// defined in voxaim_state.cpp. voxaim_initialize allocates them zero-filled
// in this order, stopping with the buffer's name when memory is short;
// voxaim_destroy releases them. Block counts are in the variant's
// `channels`, `pairs` (elevation plus azimuth pairs, in global pair index
// order), `elevationPairs` and `azimuthPairs`.
//   InputAudio: the analysis block, two frames per channel.
//   RawAudioInput1/2, Numerator1/2: double buffers (normalised input, smoothed
//   cross-spectra), aliased by Current... and Previous... below.
//   FftResult: 2049 complex bins per channel; NoisePowerEstimate,
//   FrequencyWeight: per channel and bin; TimeoutCounter: per pair and bin.
//   AzimuthElevationLookupTable, AzimuthRangeLookupTable: the delay tables,
//   lags 0 ... 16383 of the upsampled correlation. Elevation pair p owns
//   block p (cell j * 227 + i for elevation j, azimuth i); azimuth pair a
//   owns block a (cell k * 227 + i for range k).
//   AzimuthElevationOffsets, AzimuthRangeOffsets: the same tables for the
//   search's gathers, as byte offsets into CorrelationWindows, in groups of
//   kGridGroup cells (the last group padded), each group holding the pairs'
//   offsets one pair after the other (voxaim_kernels.h, accumulateGrid):
//   the pairs interleave, so these are one run of single offsets.
//   Loudspeaker: one point, all zero where the variant has none.
inline constexpr int kAzimuthElevationGroupedCells =
    (voxaim::kAzimuthElevationCells + voxaim::kGridGroup - 1) / voxaim::kGridGroup * voxaim::kGridGroup;
// clang-format off
#define VOXAIM_ENGINE_BUFFERS(X) \
    X(InputAudio,                  float,          channels,       voxaim::kBlockLength)                   \
    X(RawAudioInput1,              float,          channels,       voxaim::kFrameLength)                   \
    X(RawAudioInput2,              float,          channels,       voxaim::kFrameLength)                   \
    X(FftResult,                   float,          channels,       voxaim::kSpectrumFloats)                \
    X(Numerator1,                  float,          pairs,          voxaim::kSpectrumFloats)                \
    X(Numerator2,                  float,          pairs,          voxaim::kSpectrumFloats)                \
    X(NoisePowerEstimate,          float,          channels,       voxaim::kSpectrumBins)                  \
    X(FrequencyWeight,             float,          channels,       voxaim::kSpectrumBins)                  \
    X(TimeoutCounter,              uint8_t,        pairs,          voxaim::kSpectrumBins)                  \
    X(AzimuthElevationLookupTable, int16_t,        elevationPairs, voxaim::kAzimuthElevationCells)         \
    X(AzimuthRangeLookupTable,     int16_t,        azimuthPairs,   voxaim::kAzimuthRangeCells)             \
    X(AzimuthElevationOffsets,     uint32_t,       elevationPairs * kAzimuthElevationGroupedCells, 1) \
    X(AzimuthRangeOffsets,         uint32_t,       azimuthPairs * kAzimuthRangeCells, 1)           \
    X(Microphones,                 voxaim::Point,  channels,       1)                              \
    X(Loudspeaker,                 voxaim::Point,  1,              1)                              \
    X(AzimuthPairs,                MicrophonePair, azimuthPairs,   1)                              \
    X(ElevationPairs,              MicrophonePair, elevationPairs, 1)                              \
    X(AzimuthQuality,              float,          azimuthPairs,   1)                              \
    X(ElevationQuality,            float,          elevationPairs, 1)                              \
    /* every entry ends with a backslash: a new buffer is one more line */
// clang-format on

#define VOXAIM_DECLARE_BUFFER(name, type, blocks, blockLength) extern EngineBuffer<type, blockLength> name;
VOXAIM_ENGINE_BUFFERS(VOXAIM_DECLARE_BUFFER)
#undef VOXAIM_DECLARE_BUFFER

// Aliases of the double buffers, exchanged at the end of every frame.
extern decltype(RawAudioInput1) CurrentRawAudioInput;  // RawAudioInput1 or 2
extern decltype(RawAudioInput1) PreviousRawAudioInput; // the other one
extern decltype(Numerator1) CurrentNumerator;          // Numerator1 or 2: written this frame
extern decltype(Numerator1) PreviousNumerator;         // the other one: last frame's

// Sine-spaced angle grids (radians; NaN where the sine leaves -1 ... 1) and the
// range grid (metres).
extern std::array<float, voxaim::kAzimuthCount> AzimuthAngles;
extern std::array<float, voxaim::kElevationCount> ElevationAngles;
extern std::array<float, voxaim::kRangeCount> Ranges;

// --- Per-frame state ----------------------------------------------------------
extern uint8_t TimeoutLimit;
extern int32_t BlockedCounter; // upside-down frames since the last warning
// The best cell of the elevation grid of a variant without elevation pairs,
// which no frame writes: found once, at initialisation.
extern int32_t UnwrittenElevationCell;

// --- Fixed tables and scratch (module arrays, 16-byte aligned) --------------
extern std::array<float, voxaim::kBlockLength> HammingWindow;
extern std::array<float, voxaim::kBlockLength> ATable; // 2048 complex: 4096-point split
extern std::array<float, voxaim::kBlockLength> BTable;
extern std::array<float, voxaim::kUpsampledLength> ATableUpsampled; // 8192 complex
extern std::array<float, voxaim::kUpsampledLength> BTableUpsampled;
extern std::array<float, voxaim::kFftScratchFloats> FftInput;
extern std::array<float, voxaim::kFftScratchFloats> FftOutput;
// The split spectrum of the correlation transforms: zero outside the band
// that they write, where it is never written (voxaim_realIfftWindow).
extern std::array<float, voxaim::kUpsampledLength> CorrelationSpectrum;
// Every pair's correlation at the lags its delay table reads, lags
// -lagsBehind ... lagsAhead - 1 from the pair's windowStart.
extern std::array<float, voxaim::kUpsampledLength> CorrelationWindows;
// Per pair, the byte offsets into CorrelationWindows of the distinct lags
// its table reads (the pair's quality is the largest value there).
extern std::array<uint32_t, voxaim::kUpsampledLength> QualityOffsets;
extern std::array<float, voxaim::kAzimuthElevationCells> AzimuthElevationResult;
extern std::array<float, voxaim::kAzimuthRangeCells> AzimuthRangeResult;

// Appends one frame record to the raw-input recording, if one is open. Write
// errors are ignored. Called first thing in voxaim_calculate.
void recordRawFrame(const float *frame, int32_t bitsPerSample, uint32_t inputFlags);

#endif
