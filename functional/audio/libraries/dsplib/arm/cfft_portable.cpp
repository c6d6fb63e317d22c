// The general transform on the portable vector layer: the reference that
// every SIMD build is tested against, and the fallback on any processor.
#include "functional/audio/libraries/dsplib/arm/cfft_variants.h"
#include "functional/audio/libraries/dsplib/arm/simd_portable.h"

#define CFFT_VARIANT_NAMESPACE dsplib::cfft::portable
#include "functional/audio/libraries/dsplib/arm/cfft_kernels.h"

namespace dsplib::cfft {

const Variant *portableVariant()
{
    using K = portable::Kernels<simd::Portable>;
    static constexpr Variant v{"portable", 32, K::transform<false>, K::transform<true>};
    return &v;
}

} // namespace dsplib::cfft
