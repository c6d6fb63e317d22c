#ifndef FUNCTIONAL_AUDIO_LIBRARIES_DSPLIB_ARM_SIMD_PORTABLE_H
#define FUNCTIONAL_AUDIO_LIBRARIES_DSPLIB_ARM_SIMD_PORTABLE_H
// Vector layer, portable C++: two float lanes in a plain struct. The
// library's kernels (cfft_algorithm.h, sp_fir_algorithm.h) are written once
// against these operations, which every vector layer offers:
//   L                       lanes per vector
//   Block                   the FFT workspace's block: L real parts, then L
//                           imaginary parts; 1 = plain interleaved complex
//   V                       vector type with +, - and *
//   load(p), store(p, v)    L consecutive floats, any 4-byte alignment
//   set1(f)                 f in every lane
//   mla(acc, a, b)          acc + a b, mls(acc, a, b): acc - a b (fused only
//                           on AVX2, whose FMA rounds once)
//   load2(p, re, im)        L interleaved complex values, split into parts
//   store2(p, re, im)       the reverse: interleaves L complex values
//   transpose(rows)         L x L transpose of L vectors, in place
//   reverse(v)              the lanes in reverse order
//   C4, coefs(h)            four FIR coefficients h[0..3] held ready for
//   mlaLane<K>(acc, a, c)   acc + a c[K], K = 0..3
//   hsum(v)                 the sum of the lanes
// The element loops of the engine and its detectors also use:
//   mulAdd(acc, a, b), mulSub(acc, a, b)
//                           acc + a b, acc - a b with the product rounded
//                           before the sum on every layer (never fused)
//   min(a, b), max(a, b)    std::min / std::max of each lane (NEON: the
//                           instruction's, which differs only for zeros of
//                           either sign and NaN)
//   M, greater(a, b), atMost(a, b), less(a, b), isNumber(a)
//                           lane masks (a comparison with NaN is false)
//   select(m, a, b)         a where m is set, else b
//   divide(a, b), divideBySqrt(a, m), sqrt(p)
//                           a / b, a / sqrt(m), sqrt(p) for p >= 0: exact
//                           but on NEON, which refines the hardware's
//                           reciprocal (square root) estimate by two Newton
//                           steps (a few units in the last place)
//   loadBytes(p), storeBytes(p, v)
//                           L bytes as integer-valued floats and back
//   gather(base, offsets)   base[offsets[i] / 4]: L float loads at 32-bit
//                           byte offsets; gatherNext also advances offsets
//                           past the L it read
// A layer whose FFT workspace is interleaved (Block = 1, NEON) also offers
//   storeTransposed(p, r0..r3)  lane i of r0 .. r3 as four floats at p[i],
//                           each p[i] then advanced past them
#include <algorithm>
#include <cmath>
#include <cstdint>

namespace dsplib::simd {

struct Portable {
    static constexpr int L = 2;
    static constexpr int Block = L; // FFT workspace: L real parts, then L imaginary parts
    struct V {
        float a, b;
        friend V operator+(V x, V y) { return {x.a + y.a, x.b + y.b}; }
        friend V operator-(V x, V y) { return {x.a - y.a, x.b - y.b}; }
        friend V operator*(V x, V y) { return {x.a * y.a, x.b * y.b}; }
    };
    static V load(const float *p) { return {p[0], p[1]}; }
    static void store(float *p, V v)
    {
        p[0] = v.a;
        p[1] = v.b;
    }
    static V set1(float f) { return {f, f}; }
    static V mla(V acc, V a, V b) { return acc + a * b; }
    static V mls(V acc, V a, V b) { return acc - a * b; }
    static void load2(const float *p, V &re, V &im)
    {
        re = {p[0], p[2]};
        im = {p[1], p[3]};
    }
    static void store2(float *p, V re, V im)
    {
        p[0] = re.a;
        p[1] = im.a;
        p[2] = re.b;
        p[3] = im.b;
    }
    static void transpose(V *r)
    {
        const float t = r[0].b;
        r[0].b = r[1].a;
        r[1].a = t;
    }
    static V reverse(V v) { return {v.b, v.a}; }
    struct C4 {
        float c[4];
    };
    static C4 coefs(const float *h) { return {{h[0], h[1], h[2], h[3]}}; }
    template <int K>
    static V mlaLane(V acc, V a, const C4 &c)
    {
        return acc + a * set1(c.c[K]);
    }
    static float hsum(V v) { return v.a + v.b; }

    static V mulAdd(V acc, V a, V b) { return acc + a * b; }
    static V mulSub(V acc, V a, V b) { return acc - a * b; }
    static V min(V x, V y) { return {std::min(x.a, y.a), std::min(x.b, y.b)}; }
    static V max(V x, V y) { return {std::max(x.a, y.a), std::max(x.b, y.b)}; }
    struct M {
        bool a, b;
    };
    static M greater(V x, V y) { return {x.a > y.a, x.b > y.b}; }
    static M atMost(V x, V y) { return {x.a <= y.a, x.b <= y.b}; }
    static M less(V x, V y) { return {x.a < y.a, x.b < y.b}; }
    static M isNumber(V x) { return {x.a == x.a, x.b == x.b}; }
    static M both(M x, M y) { return {x.a && y.a, x.b && y.b}; }
    static V select(M m, V x, V y) { return {m.a ? x.a : y.a, m.b ? x.b : y.b}; }
    static V divide(V x, V y) { return {x.a / y.a, x.b / y.b}; }
    static V divideBySqrt(V x, V m) { return {x.a / std::sqrt(m.a), x.b / std::sqrt(m.b)}; }
    static V sqrt(V p) { return {std::sqrt(p.a), std::sqrt(p.b)}; }
    static V loadBytes(const uint8_t *p) { return {static_cast<float>(p[0]), static_cast<float>(p[1])}; }
    static void storeBytes(uint8_t *p, V v)
    {
        p[0] = static_cast<uint8_t>(v.a);
        p[1] = static_cast<uint8_t>(v.b);
    }
    static V gatherNext(const float *base, const uint32_t *&offsets)
    {
        const V v = gather(base, offsets);
        offsets += L;
        return v;
    }
    static V gather(const float *base, const uint32_t *offsets)
    {
        return {base[offsets[0] / sizeof(float)], base[offsets[1] / sizeof(float)]};
    }
};

} // namespace dsplib::simd

#endif
