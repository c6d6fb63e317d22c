// NEON code path of the FIR kernels: the device build (-mfpu=neon).
#include "functional/audio/libraries/dsplib/arm/sp_fir_kernel.h"
#include "functional/audio/libraries/dsplib/arm/sp_fir_kernels.h"

namespace sp_fir {

const FirKernels *neonKernels()
{
#if SP_FIR_HAVE_NEON
    static constexpr FirKernels kernels{"neon", &sp_fir_gen_<FirNeon>, &sp_fir_gen_downsample_<FirNeon>};
    return &kernels;
#else
    return nullptr;
#endif
}

} // namespace sp_fir
