#ifndef FUNCTIONAL_AUDIO_LIBRARIES_DSPLIB_ARM_SIMD_SSE2_H
#define FUNCTIONAL_AUDIO_LIBRARIES_DSPLIB_ARM_SIMD_SSE2_H
// Vector layer, x86 SSE2: four float lanes (see simd_portable.h for the
// operations). Loads and stores are unaligned: the FFT buffers are only
// 8-byte aligned.
#include <emmintrin.h>

#include <cstdint>
#include <cstring>

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

    static V mulAdd(V acc, V a, V b) { return _mm_add_ps(acc, _mm_mul_ps(a, b)); }
    static V mulSub(V acc, V a, V b) { return _mm_sub_ps(acc, _mm_mul_ps(a, b)); }
    // minps/maxps return their second operand unless the first is smaller
    // (larger): with the operands swapped, std::min and std::max exactly.
    static V min(V a, V b) { return _mm_min_ps(b, a); }
    static V max(V a, V b) { return _mm_max_ps(b, a); }
    using M = __m128;
    static M greater(V a, V b) { return _mm_cmpgt_ps(a, b); }
    static M atMost(V a, V b) { return _mm_cmple_ps(a, b); }
    static M less(V a, V b) { return _mm_cmplt_ps(a, b); }
    static M isNumber(V a) { return _mm_cmpord_ps(a, a); }
    static M both(M a, M b) { return _mm_and_ps(a, b); }
    static V select(M m, V a, V b) { return _mm_or_ps(_mm_and_ps(m, a), _mm_andnot_ps(m, b)); }
    static V divide(V a, V b) { return _mm_div_ps(a, b); }
    static V divideBySqrt(V a, V m) { return _mm_div_ps(a, _mm_sqrt_ps(m)); }
    static V sqrt(V p) { return _mm_sqrt_ps(p); }
    static V loadBytes(const uint8_t *p)
    {
        int four;
        std::memcpy(&four, p, sizeof four);
        const __m128i zero = _mm_setzero_si128();
        const __m128i bytes = _mm_cvtsi32_si128(four);
        return _mm_cvtepi32_ps(_mm_unpacklo_epi16(_mm_unpacklo_epi8(bytes, zero), zero));
    }
    static void storeBytes(uint8_t *p, V v)
    {
        const __m128i words = _mm_packs_epi32(_mm_cvttps_epi32(v), _mm_setzero_si128());
        const int four = _mm_cvtsi128_si32(_mm_packus_epi16(words, words));
        std::memcpy(p, &four, sizeof four);
    }
    static V gatherNext(const float *base, const uint32_t *&offsets)
    {
        const V v = gather(base, offsets);
        offsets += L;
        return v;
    }
    static V gather(const float *base, const uint32_t *offsets)
    {
        const auto at = [base](uint32_t offset) { return base[offset / sizeof(float)]; };
        return _mm_setr_ps(at(offsets[0]), at(offsets[1]), at(offsets[2]), at(offsets[3]));
    }
};

} // namespace dsplib::simd

#endif
