// The general transform on ARM NEON (four lanes, workspace blocked by 4).
#include "functional/audio/libraries/dsplib/arm/cfft_variants.h"

#if defined(__ARM_NEON)
#include "functional/audio/libraries/dsplib/arm/simd_neon.h"

#define CFFT_VARIANT_NAMESPACE dsplib::cfft::neon
#include "functional/audio/libraries/dsplib/arm/cfft_kernels.h"

namespace dsplib::cfft {

const Variant *neonVariant()
{
    using K = neon::Kernels<simd::Neon>;
    static constexpr Variant v{"neon", 64, K::transform<false>, K::transform<true>};
    return &v;
}

} // namespace dsplib::cfft
#else
const dsplib::cfft::Variant *dsplib::cfft::neonVariant() { return nullptr; }
#endif
