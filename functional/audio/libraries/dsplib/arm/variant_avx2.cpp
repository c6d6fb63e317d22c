// The kernels on x86 AVX2 with FMA (eight lanes, FFT workspace blocked by
// 8). This unit alone is compiled with -mavx2 -mfma (CMakeLists.txt); the
// dispatcher hands it out only when the processor reports both.
#include "functional/audio/libraries/dsplib/arm/variants.h"

#if defined(__AVX2__) && defined(__FMA__)
#include "functional/audio/libraries/dsplib/arm/simd_avx2.h"

#define DSPLIB_VARIANT_NAMESPACE dsplib::avx2
#include "functional/audio/libraries/dsplib/arm/cfft_algorithm.h"
#include "functional/audio/libraries/dsplib/arm/sp_fir_algorithm.h"

namespace dsplib {

const Variant *avx2Variant()
{
    using S = simd::Avx2;
    using K = avx2::Kernels<S>;
    static constexpr Variant v{"avx2",
                               Layer::Avx2,
                               S::L,
                               128,
                               K::transform<false>,
                               K::transform<true>,
                               K::transformWindow<true>,
                               avx2::sp_fir_gen_<S>,
                               avx2::sp_fir_gen_downsample_<S>};
    return &v;
}

} // namespace dsplib
#else
const dsplib::Variant *dsplib::avx2Variant() { return nullptr; }
#endif
