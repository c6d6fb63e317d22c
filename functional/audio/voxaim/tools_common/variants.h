#ifndef FUNCTIONAL_AUDIO_VOXAIM_TOOLS_COMMON_VARIANTS_H
#define FUNCTIONAL_AUDIO_VOXAIM_TOOLS_COMMON_VARIANTS_H
// The product variants as the tools name them: by number ("1") or by name
// ("tovak"), from the engine's own list (voxaim_variant_info.h).
#include <cstdint>
#include <optional>
#include <string>

#include "functional/audio/voxaim/cmod/track/voxaim_variant_info.h"

namespace voxaim::tools {

using voxaim::VariantInfo;

// The variant of product type `type`; nullptr for an invalid type.
const VariantInfo *findVariant(uint32_t type);

// The variant named by its number or its name; nullptr for anything else.
const VariantInfo *parseVariant(const char *text);

// --type's value into `variant`: nullopt, or the message of the usage error
// "unknown variant 'x' (valid: 0 mirel, 1 tovak, ...)".
std::optional<std::string> parseVariantOption(const char *text, const VariantInfo *&variant);

// --type as a ToolOption's take, for options with a `variant` member.
template <class Options>
std::optional<std::string> takeVariant(const char *text, Options &options)
{
    return parseVariantOption(text, options.variant);
}

// "0 mirel, 1 tovak, ...": the variants for messages.
std::string variantList();

// "0, 1, 2, 4, 5, 6, 7": the valid product types for messages.
std::string typeList();

} // namespace voxaim::tools

#endif
