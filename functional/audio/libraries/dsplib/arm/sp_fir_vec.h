// Thin single-precision vector layers for the FIR kernels (sp_fir_kernel.h).
//
// Each layer is a struct of static inline operations on a vector type V of
// W floats; the kernels are written once against this interface:
//
//   W                       lanes per vector
//   zero(), dup(s)          all lanes 0 / s
//   load(p), store(p, v)    W consecutive floats, no alignment required
//   mla(acc, a, b)          acc + a * b, lane by lane
//   C4, coefs(h)            four coefficients h[0..3] held ready for mlaLane
//   mlaLane<K>(acc, a, c)   acc + a * c[K]  (K = 0..3)
//   hsum(v)                 sum of the lanes
//
// Layers: FirPortable (plain C++, any target; on x86-64 the compiler already
// turns it into SSE2 code, so a hand-written SSE2 layer does not pay),
// FirNeon (ARM NEON, 4 lanes). The AVX2 layer (8 lanes, fused multiply-add) lives in
// sp_fir_avx2.cpp, the only unit compiled with AVX2 enabled.
//
// Everything here has internal linkage: a unit compiled for a wider
// instruction set must never lend its copy of an inline function to a unit
// that runs on every machine.
#pragma once

#if defined(__ARM_NEON) || defined(__ARM_NEON__)
#include <arm_neon.h>
#define SP_FIR_HAVE_NEON 1
#endif

namespace sp_fir {
namespace {

struct FirPortable {
    static constexpr int W = 4;
    struct V {
        float v[4];
    };
    struct C4 {
        float c[4];
    };
    static inline V zero() { return V{{0.0f, 0.0f, 0.0f, 0.0f}}; }
    static inline V dup(float s) { return V{{s, s, s, s}}; }
    static inline V load(const float *p) { return V{{p[0], p[1], p[2], p[3]}}; }
    static inline void store(float *p, V a)
    {
        for (int k = 0; k < 4; ++k)
            p[k] = a.v[k];
    }
    static inline V mla(V acc, V a, V b)
    {
        for (int k = 0; k < 4; ++k)
            acc.v[k] += a.v[k] * b.v[k];
        return acc;
    }
    static inline C4 coefs(const float *h) { return C4{{h[0], h[1], h[2], h[3]}}; }
    template <int K>
    static inline V mlaLane(V acc, V a, const C4 &c)
    {
        for (int k = 0; k < 4; ++k)
            acc.v[k] += a.v[k] * c.c[K];
        return acc;
    }
    static inline float hsum(V a) { return (a.v[0] + a.v[1]) + (a.v[2] + a.v[3]); }
};

#if SP_FIR_HAVE_NEON
// Coefficients stay packed four to a register; vmla by lane broadcasts them
// for free, so sixteen taps occupy only four quad registers.
struct FirNeon {
    static constexpr int W = 4;
    using V = float32x4_t;
    using C4 = float32x4_t;
    static inline V zero() { return vdupq_n_f32(0.0f); }
    static inline V dup(float s) { return vdupq_n_f32(s); }
    static inline V load(const float *p) { return vld1q_f32(p); }
    static inline void store(float *p, V a) { vst1q_f32(p, a); }
    static inline V mla(V acc, V a, V b) { return vmlaq_f32(acc, a, b); }
    static inline C4 coefs(const float *h) { return vld1q_f32(h); }
    template <int K>
    static inline V mlaLane(V acc, V a, const C4 &c)
    {
        if constexpr (K < 2)
            return vmlaq_lane_f32(acc, a, vget_low_f32(c), K);
        else
            return vmlaq_lane_f32(acc, a, vget_high_f32(c), K - 2);
    }
    static inline float hsum(V a)
    {
        float32x2_t s = vadd_f32(vget_low_f32(a), vget_high_f32(a));
        return vget_lane_f32(vpadd_f32(s, s), 0);
    }
};
#endif

} // namespace
} // namespace sp_fir
