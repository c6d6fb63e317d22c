// The kernels on x86 SSE2 (four lanes, FFT workspace blocked by 4).
#include "functional/audio/libraries/dsplib/arm/variants.h"

#if defined(__SSE2__)
#include "functional/audio/libraries/dsplib/arm/simd_sse2.h"

#define DSPLIB_VARIANT_NAMESPACE dsplib::sse2
#include "functional/audio/libraries/dsplib/arm/cfft_algorithm.h"
#include "functional/audio/libraries/dsplib/arm/sp_fir_algorithm.h"

namespace dsplib {

const Variant *sse2Variant()
{
    using S = simd::Sse2;
    using K = sse2::Kernels<S>;
    static constexpr Variant v{"sse2",
                               Layer::Sse2,
                               S::L,
                               64,
                               K::transform<false>,
                               K::transform<true>,
                               K::transformWindow<true>,
                               sse2::sp_fir_gen_<S>,
                               sse2::sp_fir_gen_downsample_<S>};
    return &v;
}

} // namespace dsplib
#else
const dsplib::Variant *dsplib::sse2Variant() { return nullptr; }
#endif
