// AVX2 code path of the FIR kernels (eight lanes, fused multiply-add), for
// x86-64 machines that have it. fir.cmake compiles this unit alone with
// -mavx2 -mfma; avx2Kernels() (compiled for every machine) checks the
// processor before handing the table out.
#include "functional/audio/libraries/dsplib/arm/sp_fir_kernels.h"

#if defined(__x86_64__) && defined(__AVX2__) && defined(__FMA__)
#include <immintrin.h>

#include "functional/audio/libraries/dsplib/arm/sp_fir_kernel.h"

namespace sp_fir {
namespace {

struct FirAvx2 {
    static constexpr int W = 8;
    using V = __m256;
    struct C4 {
        __m256 b[4];
    };
    static inline V zero() { return _mm256_setzero_ps(); }
    static inline V dup(float s) { return _mm256_set1_ps(s); }
    static inline V load(const float *p) { return _mm256_loadu_ps(p); }
    static inline void store(float *p, V a) { _mm256_storeu_ps(p, a); }
    static inline V mla(V acc, V a, V b) { return _mm256_fmadd_ps(a, b, acc); }
    static inline C4 coefs(const float *h)
    {
        return C4{{_mm256_broadcast_ss(h), _mm256_broadcast_ss(h + 1), _mm256_broadcast_ss(h + 2),
                   _mm256_broadcast_ss(h + 3)}};
    }
    template <int K>
    static inline V mlaLane(V acc, V a, const C4 &c)
    {
        return _mm256_fmadd_ps(a, c.b[K], acc);
    }
    static inline float hsum(V a)
    {
        __m128 s = _mm_add_ps(_mm256_castps256_ps128(a), _mm256_extractf128_ps(a, 1));
        s = _mm_add_ps(s, _mm_movehl_ps(s, s));
        s = _mm_add_ss(s, _mm_shuffle_ps(s, s, 0x55));
        return _mm_cvtss_f32(s);
    }
};

} // namespace

const FirKernels *avx2KernelTable()
{
    static constexpr FirKernels kernels{"avx2", &sp_fir_gen_<FirAvx2>, &sp_fir_gen_downsample_<FirAvx2>};
    return &kernels;
}

} // namespace sp_fir

#else

namespace sp_fir {
const FirKernels *avx2KernelTable() { return nullptr; }
} // namespace sp_fir

#endif
