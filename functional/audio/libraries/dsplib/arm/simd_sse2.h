#ifndef FUNCTIONAL_AUDIO_LIBRARIES_DSPLIB_ARM_SIMD_SSE2_H
#define FUNCTIONAL_AUDIO_LIBRARIES_DSPLIB_ARM_SIMD_SSE2_H
// Vector layer, x86 SSE2: four float lanes (see simd_portable.h for the
// operations). Loads and stores are unaligned: the FFT buffers are only
// 8-byte aligned.
#include <emmintrin.h>

namespace dsplib::simd {

struct Sse2 {
    static constexpr int L = 4;
    static constexpr int Block = L; // FFT workspace: L real parts, then L imaginary parts
    using V = __m128;
    static V load(const float *p) { return _mm_loadu_ps(p); }
    static void store(float *p, V v) { _mm_storeu_ps(p, v); }
    static V set1(float f) { return _mm_set1_ps(f); }
    static V mla(V acc, V a, V b) { return _mm_add_ps(acc, _mm_mul_ps(a, b)); }
    static V mls(V acc, V a, V b) { return _mm_sub_ps(acc, _mm_mul_ps(a, b)); }
    static void load2(const float *p, V &re, V &im)
    {
        const V a = _mm_loadu_ps(p), b = _mm_loadu_ps(p + 4);
        re = _mm_shuffle_ps(a, b, _MM_SHUFFLE(2, 0, 2, 0));
        im = _mm_shuffle_ps(a, b, _MM_SHUFFLE(3, 1, 3, 1));
    }
    static void store2(float *p, V re, V im)
    {
        _mm_storeu_ps(p, _mm_unpacklo_ps(re, im));
        _mm_storeu_ps(p + 4, _mm_unpackhi_ps(re, im));
    }
    static void transpose(V *r) { _MM_TRANSPOSE4_PS(r[0], r[1], r[2], r[3]); }
    static V reverse(V v) { return _mm_shuffle_ps(v, v, _MM_SHUFFLE(0, 1, 2, 3)); }
    struct C4 {
        V b[4];
    };
    static C4 coefs(const float *h) { return {{set1(h[0]), set1(h[1]), set1(h[2]), set1(h[3])}}; }
    template <int K>
    static V mlaLane(V acc, V a, const C4 &c)
    {
        return mla(acc, a, c.b[K]);
    }
    static float hsum(V v)
    {
        const V s = _mm_add_ps(v, _mm_movehl_ps(v, v));
        return _mm_cvtss_f32(_mm_add_ss(s, _mm_shuffle_ps(s, s, 0x55)));
    }
};

} // namespace dsplib::simd

#endif
