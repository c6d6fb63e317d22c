// Four-lane SIMD code paths of the FIR kernels: ARM NEON on the device,
// SSE2 on x86 hosts (part of the x86-64 baseline, so always usable there).
#include "functional/audio/libraries/dsplib/arm/sp_fir_kernel.h"
#include "functional/audio/libraries/dsplib/arm/sp_fir_kernels.h"

namespace sp_fir {

const FirKernels* neonKernels() {
#if SP_FIR_HAVE_NEON
  static constexpr FirKernels kernels{"neon", &sp_fir_gen_<FirNeon>,
                                      &sp_fir_gen_downsample_<FirNeon>};
  return &kernels;
#else
  return nullptr;
#endif
}

const FirKernels* sse2Kernels() {
#if SP_FIR_HAVE_SSE2
  static constexpr FirKernels kernels{"sse2", &sp_fir_gen_<FirSse2>,
                                      &sp_fir_gen_downsample_<FirSse2>};
  return &kernels;
#else
  return nullptr;
#endif
}

}  // namespace sp_fir
