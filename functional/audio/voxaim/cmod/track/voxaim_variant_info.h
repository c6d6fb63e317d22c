#ifndef FUNCTIONAL_AUDIO_VOXAIM_CMOD_TRACK_VOXAIM_VARIANT_INFO_H
#define FUNCTIONAL_AUDIO_VOXAIM_CMOD_TRACK_VOXAIM_VARIANT_INFO_H
// The product variants as the engine's tools need them: the product type
// number voxaim_initialize takes, the variant's name and its microphone
// count, without the rest of the engine's configuration.
#include <cstdint>
#include <span>

namespace voxaim {

struct VariantInfo {
    uint32_t type;
    const char *name;
    int32_t channels;
};

// Every valid product type, in ascending order.
std::span<const VariantInfo> variantInfos();

} // namespace voxaim

#endif
