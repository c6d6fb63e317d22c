// The general transform on x86 SSE2 (four lanes, workspace blocked by 4).
#include "functional/audio/libraries/dsplib/arm/cfft_variants.h"

#if defined(__SSE2__)
#include "functional/audio/libraries/dsplib/arm/simd_sse2.h"

#define CFFT_VARIANT_NAMESPACE dsplib::cfft::sse2
#include "functional/audio/libraries/dsplib/arm/cfft_kernels.h"

namespace dsplib::cfft {

const Variant *sse2Variant()
{
    using K = sse2::Kernels<simd::Sse2>;
    static constexpr Variant v{"sse2", 64, K::transform<false>, K::transform<true>};
    return &v;
}

} // namespace dsplib::cfft
#else
const dsplib::cfft::Variant *dsplib::cfft::sse2Variant() { return nullptr; }
#endif
