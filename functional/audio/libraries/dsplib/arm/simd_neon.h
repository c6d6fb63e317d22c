#ifndef FUNCTIONAL_AUDIO_LIBRARIES_DSPLIB_ARM_SIMD_NEON_H
#define FUNCTIONAL_AUDIO_LIBRARIES_DSPLIB_ARM_SIMD_NEON_H
// Vector layer, ARM NEON: four float lanes in a quad register (see
// simd_portable.h for the operations).
//
// Every operation is an intrinsic. GCC keeps the C operators on float vector
// types as scalar VFP code on ARMv7 (NEON arithmetic flushes denormals to
// zero, so it is not IEEE-exact and the compiler may not use it for them),
// so V wraps the register and defines its operators through vaddq_f32,
// vsubq_f32 and vmulq_f32. ARMv7 NEON has no fused multiply-add: mla and mls
// round the product before adding, exactly as a separate multiply and add.
#include <arm_neon.h>

namespace dsplib::simd {

struct Neon {
    static constexpr int L = 4;
    // The FFT workspace stays interleaved: load2 (vld2q) splits real and
    // imaginary parts in the load, store2 joins them as it stores.
    static constexpr int Block = 1;
    struct V {
        float32x4_t q;
        friend V operator+(V a, V b) { return {vaddq_f32(a.q, b.q)}; }
        friend V operator-(V a, V b) { return {vsubq_f32(a.q, b.q)}; }
        friend V operator*(V a, V b) { return {vmulq_f32(a.q, b.q)}; }
    };
    static V load(const float *p) { return {vld1q_f32(p)}; }
    static void store(float *p, V v) { vst1q_f32(p, v.q); }
    static V set1(float f) { return {vdupq_n_f32(f)}; }
    static V mla(V acc, V a, V b) { return {vmlaq_f32(acc.q, a.q, b.q)}; }
    static V mls(V acc, V a, V b) { return {vmlsq_f32(acc.q, a.q, b.q)}; }
    static void load2(const float *p, V &re, V &im)
    {
        const float32x4x2_t v = vld2q_f32(p);
        re.q = v.val[0];
        im.q = v.val[1];
    }
    // Zip and two plain stores rather than vst2q: GCC 12 passes the register
    // pair that vst2q needs through the stack.
    static void store2(float *p, V re, V im)
    {
        const float32x4x2_t z = vzipq_f32(re.q, im.q);
        vst1q_f32(p, z.val[0]);
        vst1q_f32(p + 4, z.val[1]);
    }
    static void transpose(V *r)
    {
        // Pairs of rows trade lanes 1/0 and 3/2, then the 64-bit halves cross.
        const float32x4x2_t a = vtrnq_f32(r[0].q, r[1].q), b = vtrnq_f32(r[2].q, r[3].q);
        r[0].q = vcombine_f32(vget_low_f32(a.val[0]), vget_low_f32(b.val[0]));
        r[1].q = vcombine_f32(vget_low_f32(a.val[1]), vget_low_f32(b.val[1]));
        r[2].q = vcombine_f32(vget_high_f32(a.val[0]), vget_high_f32(b.val[0]));
        r[3].q = vcombine_f32(vget_high_f32(a.val[1]), vget_high_f32(b.val[1]));
    }
    static V reverse(V v)
    {
        const float32x4_t r = vrev64q_f32(v.q);
        return {vcombine_f32(vget_high_f32(r), vget_low_f32(r))};
    }

    // FIR: four coefficients in one register; vmla by lane broadcasts them
    // for free, so sixteen taps occupy only four quad registers.
    using C4 = float32x4_t;
    static C4 coefs(const float *h) { return vld1q_f32(h); }
    template <int K>
    static V mlaLane(V acc, V a, C4 c)
    {
        if constexpr (K < 2)
            return {vmlaq_lane_f32(acc.q, a.q, vget_low_f32(c), K)};
        else
            return {vmlaq_lane_f32(acc.q, a.q, vget_high_f32(c), K - 2)};
    }
    static float hsum(V v)
    {
        const float32x2_t s = vadd_f32(vget_low_f32(v.q), vget_high_f32(v.q));
        return vget_lane_f32(vpadd_f32(s, s), 0);
    }
};

} // namespace dsplib::simd

#endif
