// The general transform on x86 AVX2 with FMA (eight lanes, workspace
// blocked by 8). This unit is compiled with -mavx2 -mfma (fft.cmake); the
// drivers call it only when the processor reports both (cfft_variants.h).
#include "functional/audio/libraries/dsplib/arm/cfft_variants.h"

#if defined(__AVX2__) && defined(__FMA__)
#include "functional/audio/libraries/dsplib/arm/simd_avx2.h"

#define CFFT_VARIANT_NAMESPACE dsplib::cfft::avx2
#include "functional/audio/libraries/dsplib/arm/cfft_kernels.h"

namespace dsplib::cfft {

const Variant *avx2Variant()
{
    using K = avx2::Kernels<simd::Avx2>;
    static constexpr Variant v{"avx2", 128, K::transform<false>, K::transform<true>};
    return &v;
}

} // namespace dsplib::cfft
#else
const dsplib::cfft::Variant *dsplib::cfft::avx2Variant() { return nullptr; }
#endif
