#ifndef FUNCTIONAL_AUDIO_LIBRARIES_DSPLIB_ARM_SIMD_AVX2_H
#define FUNCTIONAL_AUDIO_LIBRARIES_DSPLIB_ARM_SIMD_AVX2_H
// Vector layer, x86 AVX2: eight float lanes (see simd_portable.h for the
// operations). Only for translation units compiled with -mavx2 -mfma, and
// only called after a run-time check of the processor.
#include <immintrin.h>

#include <cstdint>
#include <cstring>

namespace dsplib::simd {

struct Avx2 {
    static constexpr int L = 8;
    static constexpr int Block = L; // FFT workspace: L real parts, then L imaginary parts
    using V = __m256;
    static V load(const float *p) { return _mm256_loadu_ps(p); }
    static void store(float *p, V v) { _mm256_storeu_ps(p, v); }
    static V set1(float f) { return _mm256_set1_ps(f); }
    static V mla(V acc, V a, V b) { return _mm256_fmadd_ps(a, b, acc); }
    static V mls(V acc, V a, V b) { return _mm256_fnmadd_ps(a, b, acc); }
    static void load2(const float *p, V &re, V &im)
    {
        const V a = _mm256_loadu_ps(p), b = _mm256_loadu_ps(p + 8);
        // Within each 128-bit half: (r0 r1 r4 r5 | r2 r3 r6 r7); then put
        // the 64-bit quarters in order.
        const V r = _mm256_shuffle_ps(a, b, _MM_SHUFFLE(2, 0, 2, 0));
        const V i = _mm256_shuffle_ps(a, b, _MM_SHUFFLE(3, 1, 3, 1));
        re = _mm256_castpd_ps(_mm256_permute4x64_pd(_mm256_castps_pd(r), _MM_SHUFFLE(3, 1, 2, 0)));
        im = _mm256_castpd_ps(_mm256_permute4x64_pd(_mm256_castps_pd(i), _MM_SHUFFLE(3, 1, 2, 0)));
    }
    static void store2(float *p, V re, V im)
    {
        const V lo = _mm256_unpacklo_ps(re, im), hi = _mm256_unpackhi_ps(re, im);
        _mm256_storeu_ps(p, _mm256_permute2f128_ps(lo, hi, 0x20));
        _mm256_storeu_ps(p + 8, _mm256_permute2f128_ps(lo, hi, 0x31));
    }
    static void transpose(V *r)
    {
        const V t0 = _mm256_unpacklo_ps(r[0], r[1]), t1 = _mm256_unpackhi_ps(r[0], r[1]);
        const V t2 = _mm256_unpacklo_ps(r[2], r[3]), t3 = _mm256_unpackhi_ps(r[2], r[3]);
        const V t4 = _mm256_unpacklo_ps(r[4], r[5]), t5 = _mm256_unpackhi_ps(r[4], r[5]);
        const V t6 = _mm256_unpacklo_ps(r[6], r[7]), t7 = _mm256_unpackhi_ps(r[6], r[7]);
        const V s0 = _mm256_shuffle_ps(t0, t2, _MM_SHUFFLE(1, 0, 1, 0));
        const V s1 = _mm256_shuffle_ps(t0, t2, _MM_SHUFFLE(3, 2, 3, 2));
        const V s2 = _mm256_shuffle_ps(t1, t3, _MM_SHUFFLE(1, 0, 1, 0));
        const V s3 = _mm256_shuffle_ps(t1, t3, _MM_SHUFFLE(3, 2, 3, 2));
        const V s4 = _mm256_shuffle_ps(t4, t6, _MM_SHUFFLE(1, 0, 1, 0));
        const V s5 = _mm256_shuffle_ps(t4, t6, _MM_SHUFFLE(3, 2, 3, 2));
        const V s6 = _mm256_shuffle_ps(t5, t7, _MM_SHUFFLE(1, 0, 1, 0));
        const V s7 = _mm256_shuffle_ps(t5, t7, _MM_SHUFFLE(3, 2, 3, 2));
        r[0] = _mm256_permute2f128_ps(s0, s4, 0x20);
        r[1] = _mm256_permute2f128_ps(s1, s5, 0x20);
        r[2] = _mm256_permute2f128_ps(s2, s6, 0x20);
        r[3] = _mm256_permute2f128_ps(s3, s7, 0x20);
        r[4] = _mm256_permute2f128_ps(s0, s4, 0x31);
        r[5] = _mm256_permute2f128_ps(s1, s5, 0x31);
        r[6] = _mm256_permute2f128_ps(s2, s6, 0x31);
        r[7] = _mm256_permute2f128_ps(s3, s7, 0x31);
    }
    struct C4 {
        V b[4];
    };
    static C4 coefs(const float *h)
    {
        return {{_mm256_broadcast_ss(h), _mm256_broadcast_ss(h + 1), _mm256_broadcast_ss(h + 2),
                 _mm256_broadcast_ss(h + 3)}};
    }
    template <int K>
    static V mlaLane(V acc, V a, const C4 &c)
    {
        return _mm256_fmadd_ps(a, c.b[K], acc);
    }
    static float hsum(V v)
    {
        __m128 s = _mm_add_ps(_mm256_castps256_ps128(v), _mm256_extractf128_ps(v, 1));
        s = _mm_add_ps(s, _mm_movehl_ps(s, s));
        s = _mm_add_ss(s, _mm_shuffle_ps(s, s, 0x55));
        return _mm_cvtss_f32(s);
    }
    static V reverse(V v) { return _mm256_permutevar8x32_ps(v, _mm256_setr_epi32(7, 6, 5, 4, 3, 2, 1, 0)); }

    // Never fused, unlike mla (a unit using these is compiled without
    // contraction of a * b + c).
    static V mulAdd(V acc, V a, V b) { return _mm256_add_ps(acc, _mm256_mul_ps(a, b)); }
    static V mulSub(V acc, V a, V b) { return _mm256_sub_ps(acc, _mm256_mul_ps(a, b)); }
    // As for SSE2: swapped operands give std::min and std::max.
    static V min(V a, V b) { return _mm256_min_ps(b, a); }
    static V max(V a, V b) { return _mm256_max_ps(b, a); }
    using M = __m256;
    static M greater(V a, V b) { return _mm256_cmp_ps(a, b, _CMP_GT_OQ); }
    static M atMost(V a, V b) { return _mm256_cmp_ps(a, b, _CMP_LE_OQ); }
    static M less(V a, V b) { return _mm256_cmp_ps(a, b, _CMP_LT_OQ); }
    static M isNumber(V a) { return _mm256_cmp_ps(a, a, _CMP_ORD_Q); }
    static M both(M a, M b) { return _mm256_and_ps(a, b); }
    static V select(M m, V a, V b) { return _mm256_blendv_ps(b, a, m); }
    static V divide(V a, V b) { return _mm256_div_ps(a, b); }
    static V divideBySqrt(V a, V m) { return _mm256_div_ps(a, _mm256_sqrt_ps(m)); }
    static V sqrt(V p) { return _mm256_sqrt_ps(p); }
    static V loadBytes(const uint8_t *p)
    {
        long long eight;
        std::memcpy(&eight, p, sizeof eight);
        return _mm256_cvtepi32_ps(_mm256_cvtepu8_epi32(_mm_cvtsi64_si128(eight)));
    }
    static void storeBytes(uint8_t *p, V v)
    {
        const __m256i words = _mm256_cvttps_epi32(v);
        const __m128i halves = _mm_packs_epi32(_mm256_castsi256_si128(words), _mm256_extracti128_si256(words, 1));
        const long long eight = _mm_cvtsi128_si64(_mm_packus_epi16(halves, halves));
        std::memcpy(p, &eight, sizeof eight);
    }
    static V gatherNext(const float *base, const uint32_t *&offsets)
    {
        const V v = gather(base, offsets);
        offsets += L;
        return v;
    }
    static V gather(const float *base, const uint32_t *offsets)
    {
        const __m256i bytes = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(offsets));
        return _mm256_i32gather_ps(base, bytes, 1);
    }
};

} // namespace dsplib::simd

#endif
