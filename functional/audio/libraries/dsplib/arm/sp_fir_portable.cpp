// Portable code path of the FIR kernels: plain C++, any target. It is also
// the reference every SIMD variant is tested against.
#include "functional/audio/libraries/dsplib/arm/sp_fir_kernel.h"
#include "functional/audio/libraries/dsplib/arm/sp_fir_kernels.h"

namespace sp_fir {

const FirKernels &portableKernels()
{
    static constexpr FirKernels kernels{"portable", &sp_fir_gen_<FirPortable>, &sp_fir_gen_downsample_<FirPortable>};
    return kernels;
}

} // namespace sp_fir
