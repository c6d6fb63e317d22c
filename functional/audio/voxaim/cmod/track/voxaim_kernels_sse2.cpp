// The engine's loops on x86 SSE2 (four lanes).
#include "functional/audio/voxaim/cmod/track/voxaim_kernels.h"

#if defined(__SSE2__)
#include "functional/audio/libraries/dsplib/arm/simd_sse2.h"

#define VOXAIM_KERNELS_NAMESPACE voxaim::sse2
#include "functional/audio/voxaim/cmod/track/voxaim_kernels_algorithm.h"

const voxaim::Kernels *voxaim::sse2Kernels()
{
    static constexpr Kernels table = sse2::Loops<dsplib::simd::Sse2>::table("sse2");
    return &table;
}
#else
const voxaim::Kernels *voxaim::sse2Kernels() { return nullptr; }
#endif
