#include "functional/audio/voxaim/tools_common/variants.h"

#include <cstring>

namespace voxaim::tools {

const VariantInfo *findVariant(uint32_t type)
{
    for (const VariantInfo &v : variantInfos()) {
        if (v.type == type)
            return &v;
    }
    return nullptr;
}

const VariantInfo *parseVariant(const char *text)
{
    for (const VariantInfo &v : variantInfos()) {
        if (std::strcmp(text, v.name) == 0 || std::to_string(v.type) == text)
            return &v;
    }
    return nullptr;
}

std::string variantList()
{
    std::string list;
    for (const VariantInfo &v : variantInfos())
        list += (list.empty() ? "" : ", ") + std::to_string(v.type) + " " + v.name;
    return list;
}

std::optional<std::string> parseVariantOption(const char *text, const VariantInfo *&variant)
{
    variant = parseVariant(text);
    if (variant == nullptr)
        return std::string("unknown variant '") + text + "' (valid: " + variantList() + ")";
    return std::nullopt;
}

std::string typeList()
{
    std::string list;
    for (const VariantInfo &v : variantInfos())
        list += (list.empty() ? "" : ", ") + std::to_string(v.type);
    return list;
}

} // namespace voxaim::tools
