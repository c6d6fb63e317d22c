// The kernels on the portable vector layer: the reference that every SIMD
// variant is tested against, and the fallback on any processor.
#include "functional/audio/libraries/dsplib/arm/simd_portable.h"
#include "functional/audio/libraries/dsplib/arm/variants.h"

#define DSPLIB_VARIANT_NAMESPACE dsplib::portable
#include "functional/audio/libraries/dsplib/arm/cfft_algorithm.h"
#include "functional/audio/libraries/dsplib/arm/sp_fir_algorithm.h"

namespace dsplib {

const Variant *portableVariant()
{
    using S = simd::Portable;
    using K = portable::Kernels<S>;
    static constexpr Variant v{"portable",
                               Layer::Portable,
                               S::L,
                               32,
                               K::transform<false>,
                               K::transform<true>,
                               K::transformWindow<true>,
                               portable::sp_fir_gen_<S>,
                               portable::sp_fir_gen_downsample_<S>};
    return &v;
}

} // namespace dsplib
