#ifndef FUNCTIONAL_AUDIO_VOXAIM_CMOD_TRACK_VOXAIM_NEON_H
#define FUNCTIONAL_AUDIO_VOXAIM_CMOD_TRACK_VOXAIM_NEON_H
/*
 * Small NEON steps shared by the engine's loops and its detectors (ARM
 * builds only; include it under #if defined(__ARM_NEON)).
 *
 * GCC's arm_neon.h writes the ordered float comparisons (vcgtq_f32,
 * vcleq_f32, ...) as C vector comparisons, which GCC then splits into
 * scalar VFP compares: it may not use the flush-to-zero NEON compare for
 * them. The absolute comparisons (vcagtq_f32, ...) are NEON instructions;
 * for operands that cannot be negative they are the ordinary comparison,
 * and greater() below is built from vmaxq_f32 and vceqq_f32.
 */
#include <arm_neon.h>

namespace voxaim::neon {

/* a > b for a, b >= 0 (false when either is NaN). */
inline uint32x4_t greaterNonNegative(float32x4_t a, float32x4_t b) { return vcagtq_f32(a, b); }

/* a <= b for a, b >= 0 (false when either is NaN). */
inline uint32x4_t atMostNonNegative(float32x4_t a, float32x4_t b) { return vcaleq_f32(a, b); }

/* a > b for any a and a b that is not NaN (false when a is NaN). */
inline uint32x4_t greater(float32x4_t a, float32x4_t b)
{
    return vbicq_u32(vceqq_f32(vmaxq_f32(a, b), a), vceqq_f32(a, b));
}

/* x < limit for a limit > 0: an x with its sign bit set is below it. */
inline uint32x4_t below(float32x4_t x, float32x4_t limit)
{
    return vorrq_u32(vcaltq_f32(x, limit), vcltq_s32(vreinterpretq_s32_f32(x), vdupq_n_s32(0)));
}

/* Lanes whose sign bit is set (negative numbers and -0). */
inline uint32x4_t signBit(float32x4_t x) { return vcltq_s32(vreinterpretq_s32_f32(x), vdupq_n_s32(0)); }

/* 1 / sqrt(x): the hardware estimate (about 8 bits) refined by two Newton
 * steps, within a few units in the last place. +0 gives +inf. */
inline float32x4_t reciprocalSqrt(float32x4_t x)
{
    float32x4_t r = vrsqrteq_f32(x);
    r = vmulq_f32(r, vrsqrtsq_f32(vmulq_f32(x, r), r));
    r = vmulq_f32(r, vrsqrtsq_f32(vmulq_f32(x, r), r));
    return r;
}

/* 1 / x: the hardware estimate refined by two Newton steps. */
inline float32x4_t reciprocal(float32x4_t x)
{
    float32x4_t r = vrecpeq_f32(x);
    r = vmulq_f32(r, vrecpsq_f32(x, r));
    r = vmulq_f32(r, vrecpsq_f32(x, r));
    return r;
}

/* re^2 + im^2 of four bins (deinterleaved by vld2q_f32), each product and
 * the sum rounded as in scalar code (vmla is not fused). */
inline float32x4_t power(float32x4x2_t bins)
{
    return vmlaq_f32(vmulq_f32(bins.val[0], bins.val[0]), bins.val[1], bins.val[1]);
}

/* sqrt(p) for p >= 0 as p x 1/sqrt(p); 0 for p = 0. */
inline float32x4_t squareRoot(float32x4_t p)
{
    const uint32x4_t positive = greaterNonNegative(p, vdupq_n_f32(0.0f));
    return vreinterpretq_f32_u32(vandq_u32(vreinterpretq_u32_f32(vmulq_f32(p, reciprocalSqrt(p))), positive));
}

} // namespace voxaim::neon

#endif
