// The kernels on ARM NEON (four lanes in quad registers; the FFT workspace
// stays interleaved).
#include "functional/audio/libraries/dsplib/arm/variants.h"

#if defined(__ARM_NEON)
#include "functional/audio/libraries/dsplib/arm/simd_neon.h"

#define DSPLIB_VARIANT_NAMESPACE dsplib::neon
#include "functional/audio/libraries/dsplib/arm/cfft_algorithm.h"
#include "functional/audio/libraries/dsplib/arm/sp_fir_algorithm.h"

namespace dsplib {

const Variant *neonVariant()
{
    using S = simd::Neon;
    using K = neon::Kernels<S>;
    static constexpr Variant v{"neon",
                               Layer::Neon,
                               S::L,
                               64,
                               K::transform<false>,
                               K::transform<true>,
                               K::transformWindow<true>,
                               neon::sp_fir_gen_<S>,
                               neon::sp_fir_gen_downsample_<S>};
    return &v;
}

} // namespace dsplib
#else
const dsplib::Variant *dsplib::neonVariant() { return nullptr; }
#endif
