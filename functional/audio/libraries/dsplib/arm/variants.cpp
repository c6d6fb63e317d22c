// The list of variants this processor runs, and the choice among them.
#include "functional/audio/libraries/dsplib/arm/variants.h"

#include <array>
#include <cstddef>

namespace dsplib {

namespace {

struct VariantList {
    std::array<Variant, 4> items{};
    std::size_t count = 0;

    VariantList()
    {
        add(portableVariant());
        add(neonVariant());
        add(sse2Variant());
#if defined(__x86_64__) || defined(__i386__)
        if (__builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma"))
            add(avx2Variant());
#endif
    }
    void add(const Variant *v)
    {
        if (v)
            items[count++] = *v;
    }
};

const VariantList &variantList()
{
    static const VariantList list;
    return list;
}

} // namespace

std::span<const Variant> variants()
{
    const VariantList &l = variantList();
    return {l.items.data(), l.count};
}

const Variant &widestVariant()
{
    static const Variant &widest = variants().back();
    return widest;
}

const Variant &firVariant() { return widestVariant(); }

const Variant &cfftVariantFor(int N)
{
    const auto all = variants();
    for (std::size_t i = all.size() - 1; i > 0; --i)
        if (N >= all[i].cfftMinN)
            return all[i];
    return all[0];
}

} // namespace dsplib
