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

#include <cstdint>
#include <cstring>

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
    // One interleaving store (vst2) of a register pair. GCC 12 cannot build
    // the pair that vst2q_f32 takes from two computed values without going
    // through the stack, so the values are placed in q14 and q15, where the
    // arithmetic that produces them writes them directly.
    static void store2(float *p, V re, V im)
    {
        register float32x4_t r asm("q14") = re.q;
        register float32x4_t i asm("q15") = im.q;
        asm("vst2.32 {d28-d31}, [%3]" : "=m"(*reinterpret_cast<float(*)[8]>(p)) : "w"(r), "w"(i), "r"(p));
    }
    // Lane i of r0 .. r3 as four consecutive floats at p[i], each p[i] then
    // advanced past them: a 4 x 4 transpose written out row by row, one lane
    // store (vst4) per row, from q12 .. q15 as store2 does.
    static void storeTransposed(float *(&p)[4], V r0, V r1, V r2, V r3)
    {
        register float32x4_t a asm("q12") = r0.q;
        register float32x4_t b asm("q13") = r1.q;
        register float32x4_t c asm("q14") = r2.q;
        register float32x4_t d asm("q15") = r3.q;
        using Row = float[4];
        asm("vst4.32 {d24[0], d26[0], d28[0], d30[0]}, [%4]!\n\t"
            "vst4.32 {d24[1], d26[1], d28[1], d30[1]}, [%5]!\n\t"
            "vst4.32 {d25[0], d27[0], d29[0], d31[0]}, [%6]!\n\t"
            "vst4.32 {d25[1], d27[1], d29[1], d31[1]}, [%7]!"
            : "=m"(*reinterpret_cast<Row *>(p[0])), "=m"(*reinterpret_cast<Row *>(p[1])),
              "=m"(*reinterpret_cast<Row *>(p[2])), "=m"(*reinterpret_cast<Row *>(p[3])), "+r"(p[0]), "+r"(p[1]),
              "+r"(p[2]), "+r"(p[3])
            : "w"(a), "w"(b), "w"(c), "w"(d));
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

    // vmla rounds the product before adding: the same as mla.
    static V mulAdd(V acc, V a, V b) { return {vmlaq_f32(acc.q, a.q, b.q)}; }
    static V mulSub(V acc, V a, V b) { return {vmlsq_f32(acc.q, a.q, b.q)}; }
    static V min(V a, V b) { return {vminq_f32(a.q, b.q)}; }
    static V max(V a, V b) { return {vmaxq_f32(a.q, b.q)}; }

    // GCC 12 writes the ordered comparisons of arm_neon.h (vcgtq_f32, ...)
    // as C vector comparisons and splits them into scalar VFP compares (the
    // NEON compare flushes subnormals, which IEEE comparison may not), so
    // they are written as the instructions themselves.
    using M = uint32x4_t;
    static M greater(V a, V b)
    {
        M m;
        asm("vcgt.f32 %q0, %q1, %q2" : "=w"(m) : "w"(a.q), "w"(b.q));
        return m;
    }
    static M atMost(V a, V b)
    {
        M m;
        asm("vcge.f32 %q0, %q2, %q1" : "=w"(m) : "w"(a.q), "w"(b.q));
        return m;
    }
    static M less(V a, V b) { return greater(b, a); }
    static M isNumber(V a) { return vceqq_f32(a.q, a.q); }
    static M both(M a, M b) { return vandq_u32(a, b); }
    static V select(M m, V a, V b) { return {vbslq_f32(m, a.q, b.q)}; }

    // 1 / x and 1 / sqrt(x): the hardware estimates (about 8 bits) refined
    // by two Newton steps.
    static float32x4_t reciprocal(float32x4_t x)
    {
        float32x4_t r = vrecpeq_f32(x);
        r = vmulq_f32(r, vrecpsq_f32(x, r));
        return vmulq_f32(r, vrecpsq_f32(x, r));
    }
    static float32x4_t reciprocalSqrt(float32x4_t x)
    {
        float32x4_t r = vrsqrteq_f32(x);
        r = vmulq_f32(r, vrsqrtsq_f32(vmulq_f32(x, r), r));
        return vmulq_f32(r, vrsqrtsq_f32(vmulq_f32(x, r), r));
    }
    static V divide(V a, V b) { return {vmulq_f32(a.q, reciprocal(b.q))}; }
    static V divideBySqrt(V a, V m) { return {vmulq_f32(a.q, reciprocalSqrt(m.q))}; }
    // p x 1/sqrt(p); 0 for p = 0 (whose estimate is infinite).
    static V sqrt(V p)
    {
        const uint32x4_t positive = vcagtq_f32(p.q, vdupq_n_f32(0.0f));
        return {vreinterpretq_f32_u32(vandq_u32(vreinterpretq_u32_f32(vmulq_f32(p.q, reciprocalSqrt(p.q))), positive))};
    }

    static V loadBytes(const uint8_t *p)
    {
        uint32_t four;
        std::memcpy(&four, p, sizeof four);
        const uint16x8_t wide = vmovl_u8(vreinterpret_u8_u32(vdup_n_u32(four)));
        return {vcvtq_f32_u32(vmovl_u16(vget_low_u16(wide)))};
    }
    static void storeBytes(uint8_t *p, V v)
    {
        const uint16x4_t half = vmovn_u32(vcvtq_u32_f32(v.q));
        const uint8x8_t bytes = vmovn_u16(vcombine_u16(half, half));
        vst1_lane_u32(reinterpret_cast<uint32_t *>(p), vreinterpret_u32_u8(bytes), 0);
    }

    // NEON has no gather: the four offsets in two register pairs (ldrd,
    // advancing the pointer), four loads through core registers that add
    // them to the base, and two moves into the q register; written out
    // because GCC loads the offsets one by one and, given vcombine_u32 of
    // vcreate_u32, moves every value twice.
    static V gatherNext(const float *base, const uint32_t *&offsets)
    {
        uint32_t a, b, c, d;
        uint32x4_t values;
        asm("ldrd %1, %2, [%5], #8\n\t"
            "ldrd %3, %4, [%5], #8\n\t"
            "ldr %1, [%6, %1]\n\t"
            "ldr %2, [%6, %2]\n\t"
            "ldr %3, [%6, %3]\n\t"
            "ldr %4, [%6, %4]\n\t"
            "vmov %e0, %1, %2\n\t"
            "vmov %f0, %3, %4"
            : "=w"(values), "=&r"(a), "=&r"(b), "=&r"(c), "=&r"(d), "+r"(offsets)
            : "r"(base)
            : "memory");
        return {vreinterpretq_f32_u32(values)};
    }
    static V gather(const float *base, const uint32_t *offsets) { return gatherNext(base, offsets); }
};

} // namespace dsplib::simd

#endif
