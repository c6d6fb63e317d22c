// The engine's loops on ARM NEON (four lanes in quad registers).
#include "functional/audio/voxaim/cmod/track/voxaim_kernels.h"

#if defined(__ARM_NEON)
#include "functional/audio/libraries/dsplib/arm/simd_neon.h"

#define VOXAIM_KERNELS_NAMESPACE voxaim::neon
#include "functional/audio/voxaim/cmod/track/voxaim_kernels_algorithm.h"

const voxaim::Kernels *voxaim::neonKernels()
{
    static constexpr Kernels table = neon::Loops<dsplib::simd::Neon>::table("neon");
    return &table;
}
#else
const voxaim::Kernels *voxaim::neonKernels() { return nullptr; }
#endif
