#include "functional/audio/voxaim/cmod/track/voxaim_variant_info.h"

#include <array>

#include "functional/audio/voxaim/cmod/track/voxaim_variants.h"

namespace voxaim {

namespace {

constexpr auto kInfos = [] {
    std::array<VariantInfo, kVariants.size()> infos{};
    for (std::size_t i = 0; i < kVariants.size(); ++i)
        infos[i] = {kVariants[i].type, kVariants[i].name, kVariants[i].channels};
    return infos;
}();

} // namespace

std::span<const VariantInfo> variantInfos() { return kInfos; }

} // namespace voxaim
