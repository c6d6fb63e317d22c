#ifndef FUNCTIONAL_AUDIO_LIBRARIES_DSPLIB_ARM_SIMD_SCALAR_H
#define FUNCTIONAL_AUDIO_LIBRARIES_DSPLIB_ARM_SIMD_SCALAR_H
// Vector layer of one lane: plain floats. The element loops written against
// the layers (see simd_portable.h) run the elements left over after the
// whole vectors through it, so every element is computed by the same code
// in IEEE arithmetic (exact division and square root).
#include <algorithm>
#include <cmath>
#include <cstdint>

namespace dsplib::simd {

struct Scalar {
    static constexpr int L = 1;
    using V = float;
    static V load(const float *p) { return *p; }
    static void store(float *p, V v) { *p = v; }
    static V set1(float f) { return f; }
    static void load2(const float *p, V &re, V &im)
    {
        re = p[0];
        im = p[1];
    }
    static void store2(float *p, V re, V im)
    {
        p[0] = re;
        p[1] = im;
    }
    static V reverse(V v) { return v; }
    static V mulAdd(V acc, V a, V b) { return acc + a * b; }
    static V mulSub(V acc, V a, V b) { return acc - a * b; }
    static V min(V a, V b) { return std::min(a, b); }
    static V max(V a, V b) { return std::max(a, b); }
    using M = bool;
    static M greater(V a, V b) { return a > b; }
    static M atMost(V a, V b) { return a <= b; }
    static M less(V a, V b) { return a < b; }
    static M isNumber(V a) { return a == a; }
    static M both(M a, M b) { return a && b; }
    static V select(M m, V a, V b) { return m ? a : b; }
    static V divide(V a, V b) { return a / b; }
    static V divideBySqrt(V a, V m) { return a / std::sqrt(m); }
    static V sqrt(V p) { return std::sqrt(p); }
    static V loadBytes(const uint8_t *p) { return static_cast<float>(*p); }
    static void storeBytes(uint8_t *p, V v) { *p = static_cast<uint8_t>(v); }
    static V gatherNext(const float *base, const uint32_t *&offsets)
    {
        const V v = gather(base, offsets);
        offsets += L;
        return v;
    }
    static V gather(const float *base, const uint32_t *offsets) { return base[*offsets / sizeof(float)]; }
};

} // namespace dsplib::simd

#endif
