// The engine's loops on x86 AVX2 (eight lanes). This unit alone is compiled
// with -mavx2 -mfma and without contraction of a * b + c into fused
// multiply-adds (CMakeLists.txt), so that its results are those of the
// portable loops; it is chosen only where the library's AVX2 variant is.
#include "functional/audio/voxaim/cmod/track/voxaim_kernels.h"

#if defined(__AVX2__) && defined(__FMA__)
#include "functional/audio/libraries/dsplib/arm/simd_avx2.h"

#define VOXAIM_KERNELS_NAMESPACE voxaim::avx2
#include "functional/audio/voxaim/cmod/track/voxaim_kernels_algorithm.h"

const voxaim::Kernels *voxaim::avx2Kernels()
{
    static constexpr Kernels table = avx2::Loops<dsplib::simd::Avx2>::table("avx2");
    return &table;
}
#else
const voxaim::Kernels *voxaim::avx2Kernels() { return nullptr; }
#endif
