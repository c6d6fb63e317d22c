#ifndef FUNCTIONAL_AUDIO_VOXAIM_CMOD_TRACK_VOXAIM_VARIANTS_H
#define FUNCTIONAL_AUDIO_VOXAIM_CMOD_TRACK_VOXAIM_VARIANTS_H
// The fixed configuration of every product variant: the engine's whole
// configuration. Coordinates in metres, x forward, y sideways, z up.
#include <array>
#include <cstdint>

#include "functional/audio/voxaim/cmod/track/voxaim.h"
#include "functional/audio/voxaim/cmod/track/voxaim_layout.h"

namespace voxaim {

struct PairIndices {
    int16_t first;
    int16_t second;
};

struct VariantConfig {
    uint32_t type;
    const char *name;
    int32_t channels;
    int32_t elevationPairCount;
    std::array<PairIndices, 5> elevationPairs; // in search order
    int32_t azimuthPairCount;
    std::array<PairIndices, 4> azimuthPairs; // in search order
    float minimumAzimuth;                    // sine of the lowest grid azimuth
    float minimumElevation;                  // sine of the lowest grid elevation
    float angleInterval;                     // sine step of both grids
    bool attenuateLoudspeaker;
    std::array<uint32_t, 2> frequencyDomainVadChannels;
    std::array<uint32_t, 2> noiseLevelChannels;
    std::array<Point, VOXAIM_MAX_CHANNELS> microphones; // channel order
    Point loudspeaker;
};

// Every variant selects this channel for the time-domain detector.
inline constexpr uint32_t kTimeDomainVadChannel = 2;

inline constexpr std::array<VariantConfig, 7> kVariants{{
    {.type = 0,
     .name = "mirel",
     .channels = 6,
     .elevationPairCount = 3,
     .elevationPairs = {{{3, 5}, {4, 0}, {2, 1}}},
     .azimuthPairCount = 3,
     .azimuthPairs = {{{2, 1}, {3, 2}, {0, 1}}},
     .minimumAzimuth = -0.905f,
     .minimumElevation = -0.52f,
     .angleInterval = 0.008f,
     .attenuateLoudspeaker = false,
     .frequencyDomainVadChannels = {1, 2},
     .noiseLevelChannels = {1, 2},
     .microphones = {{{-0.13f, 0.3753f, 0.133f},
                      {-0.13f, 0.2253f, 0.133f},
                      {-0.13f, -0.2253f, 0.133f},
                      {-0.13f, -0.3753f, 0.133f},
                      {-0.13f, 0.3753f, -0.067f},
                      {-0.13f, -0.3753f, -0.067f}}},
     .loudspeaker = {0.0f, 0.0f, 0.0f}},
    {.type = 1,
     .name = "tovak",
     .channels = 8,
     .elevationPairCount = 5,
     .elevationPairs = {{{1, 3}, {5, 7}, {1, 7}, {3, 5}, {1, 5}}},
     .azimuthPairCount = 4,
     .azimuthPairs = {{{1, 5}, {0, 6}, {0, 2}, {4, 6}}},
     .minimumAzimuth = -0.905f,
     .minimumElevation = -0.52f,
     .angleInterval = 0.008f,
     .attenuateLoudspeaker = false,
     .frequencyDomainVadChannels = {1, 5},
     .noiseLevelChannels = {1, 5},
     .microphones = {{{0.028f, -0.329f, 0.085f},
                      {0.028f, -0.244f, 0.085f},
                      {0.028f, -0.159f, 0.085f},
                      {0.028f, -0.244f, -0.085f},
                      {0.028f, 0.159f, 0.085f},
                      {0.028f, 0.244f, 0.085f},
                      {0.028f, 0.329f, 0.085f},
                      {0.028f, 0.244f, -0.085f}}},
     .loudspeaker = {0.0f, 0.0f, 0.0f}},
    {.type = 2,
     .name = "lumo",
     .channels = 6,
     .elevationPairCount = 3,
     .elevationPairs = {{{3, 4}, {3, 5}, {2, 4}}},
     .azimuthPairCount = 3,
     .azimuthPairs = {{{3, 2}, {3, 0}, {1, 0}}},
     .minimumAzimuth = -0.72f,
     .minimumElevation = -0.65f,
     .angleInterval = 0.0064f,
     .attenuateLoudspeaker = true,
     .frequencyDomainVadChannels = {3, 4},
     .noiseLevelChannels = {3, 4},
     .microphones = {{{0.0f, 0.33f, 0.0305f},
                      {0.0028f, 0.17f, 0.0305f},
                      {0.0028f, -0.17f, 0.0305f},
                      {0.0f, -0.33f, 0.0305f},
                      {0.0f, -0.33f, -0.0305f},
                      {0.0028f, -0.17f, -0.0305f}}},
     .loudspeaker = {0.0028f, 0.067f, 0.0f}},
    {.type = 4,
     .name = "zandor",
     .channels = 8,
     .elevationPairCount = 4,
     .elevationPairs = {{{6, 4}, {5, 6}, {7, 4}, {3, 1}}},
     .azimuthPairCount = 3,
     .azimuthPairs = {{{7, 6}, {6, 2}, {3, 2}}},
     .minimumAzimuth = -0.825f,
     .minimumElevation = -0.55f,
     .angleInterval = 0.0073f,
     .attenuateLoudspeaker = false,
     .frequencyDomainVadChannels = {2, 4},
     .noiseLevelChannels = {3, 4},
     .microphones = {{{0.0f, 0.275f, 0.04f},
                      {0.0f, 0.435f, 0.04f},
                      {0.0f, 0.275f, -0.04f},
                      {0.0f, 0.435f, -0.04f},
                      {0.0f, -0.275f, 0.04f},
                      {0.0f, -0.435f, 0.04f},
                      {0.0f, -0.275f, -0.04f},
                      {0.0f, -0.435f, -0.04f}}},
     .loudspeaker = {0.0f, 0.157f, 0.005f}},
    {.type = 5,
     .name = "valdrun",
     .channels = 6,
     .elevationPairCount = 3,
     .elevationPairs = {{{2, 5}, {3, 4}, {2, 4}}},
     .azimuthPairCount = 3,
     .azimuthPairs = {{{4, 5}, {2, 1}, {1, 0}}},
     .minimumAzimuth = -0.72f,
     .minimumElevation = -0.65f,
     .angleInterval = 0.0064f,
     .attenuateLoudspeaker = true,
     .frequencyDomainVadChannels = {3, 4},
     .noiseLevelChannels = {3, 4},
     .microphones = {{{0.0f, -0.396f, 0.03602f},
                      {0.0f, -0.236f, 0.03602f},
                      {0.0f, 0.236f, 0.03602f},
                      {0.0f, 0.396f, 0.03602f},
                      {-0.0038f, 0.396f, -0.02498f},
                      {-0.0038f, 0.236f, -0.02498f}}},
     .loudspeaker = {0.0f, -0.127f, 0.009f}},
    {.type = 6,
     .name = "feyla",
     .channels = 4,
     .elevationPairCount = 0,
     .elevationPairs = {},
     .azimuthPairCount = 3,
     .azimuthPairs = {{{2, 1}, {0, 1}, {3, 2}}},
     .minimumAzimuth = -0.825f,
     .minimumElevation = -0.55f,
     .angleInterval = 0.0073f,
     .attenuateLoudspeaker = false,
     .frequencyDomainVadChannels = {1, 2},
     .noiseLevelChannels = {1, 2},
     .microphones = {{{0.0f, -0.24f, 0.0f}, {0.0f, -0.08f, 0.0f}, {0.0f, 0.1f, 0.0f}, {0.0f, 0.28f, 0.0f}}},
     .loudspeaker = {0.0f, 0.0f, 0.0f}},
    {.type = 7,
     .name = "brannt",
     .channels = 8,
     .elevationPairCount = 2,
     .elevationPairs = {{{1, 6}, {4, 7}}},
     .azimuthPairCount = 3,
     .azimuthPairs = {{{0, 2}, {3, 5}, {1, 4}}},
     .minimumAzimuth = -1.045f,
     .minimumElevation = -0.825f,
     .angleInterval = 0.0092f,
     .attenuateLoudspeaker = false,
     .frequencyDomainVadChannels = {1, 2},
     .noiseLevelChannels = {1, 2},
     .microphones = {{{0.0f, -0.1725f, -0.0225f},
                      {0.0f, -0.0835f, -0.0225f},
                      {0.0f, -0.0435f, -0.0225f},
                      {0.0f, 0.0155f, -0.0225f},
                      {0.0f, 0.0485f, -0.0225f},
                      {0.0f, 0.1225f, -0.0225f},
                      {0.0f, -0.0835f, 0.0175f},
                      {0.0f, 0.0485f, 0.0175f}}},
     .loudspeaker = {0.0f, 0.0f, 0.0f}},
}};

// Every pair names two distinct microphones of its variant, and the pair lists
// fit the engine's fixed per-pair storage.
constexpr bool variantTableIsConsistent()
{
    for (const VariantConfig &v : kVariants) {
        if (v.channels < 1 || v.channels > VOXAIM_MAX_CHANNELS)
            return false;
        if (v.azimuthPairCount < 1 || v.elevationPairCount < 0)
            return false;
        if (v.elevationPairCount > static_cast<int32_t>(v.elevationPairs.size()) ||
            v.azimuthPairCount > static_cast<int32_t>(v.azimuthPairs.size()) ||
            v.elevationPairCount + v.azimuthPairCount > kMaxPairs)
            return false;
        auto pairValid = [&](PairIndices p) {
            return p.first >= 0 && p.second >= 0 && p.first < v.channels && p.second < v.channels &&
                   v.microphones[p.first] != v.microphones[p.second];
        };
        for (int32_t p = 0; p < v.elevationPairCount; ++p)
            if (!pairValid(v.elevationPairs[p]))
                return false;
        for (int32_t a = 0; a < v.azimuthPairCount; ++a)
            if (!pairValid(v.azimuthPairs[a]))
                return false;
        for (uint32_t ch : {v.frequencyDomainVadChannels[0], v.frequencyDomainVadChannels[1], v.noiseLevelChannels[0],
                            v.noiseLevelChannels[1], kTimeDomainVadChannel})
            if (ch >= static_cast<uint32_t>(v.channels))
                return false;
    }
    return true;
}
static_assert(variantTableIsConsistent());

// The configuration of product type `type`, or nullptr for an invalid type
// (3 and anything above 7).
constexpr const VariantConfig *findVariant(uint32_t type)
{
    for (const VariantConfig &variant : kVariants) {
        if (variant.type == type)
            return &variant;
    }
    return nullptr;
}

} // namespace voxaim

#endif
