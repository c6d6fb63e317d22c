// The engine's loops on the portable vector layer: the reference every
// other build is tested against, and the fallback on any processor.
#include "functional/audio/voxaim/cmod/track/voxaim_kernels.h"
#include "functional/audio/libraries/dsplib/arm/simd_portable.h"

#define VOXAIM_KERNELS_NAMESPACE voxaim::portable
#include "functional/audio/voxaim/cmod/track/voxaim_kernels_algorithm.h"

const voxaim::Kernels *voxaim::portableKernels()
{
    static constexpr Kernels table = portable::Loops<dsplib::simd::Portable>::table("portable");
    return &table;
}
