#ifndef FUNCTIONAL_AUDIO_LIBRARIES_DSPLIB_ARM_SIMD_NEON_H
#define FUNCTIONAL_AUDIO_LIBRARIES_DSPLIB_ARM_SIMD_NEON_H
// Vector layer, ARM NEON: two float lanes in a 64-bit register (see
// simd_portable.h for the operations). load2/store2 are the de-interleaving
// and interleaving structure loads and stores.
#include <arm_neon.h>

namespace dsplib::simd {

struct Neon {
    static constexpr int L = 2;
    using V = float32x2_t;
    static V load(const float *p) { return vld1_f32(p); }
    static void store(float *p, V v) { vst1_f32(p, v); }
    static V set1(float f) { return vdup_n_f32(f); }
    static void load2(const float *p, V &re, V &im)
    {
        const float32x2x2_t v = vld2_f32(p);
        re = v.val[0];
        im = v.val[1];
    }
    static void store2(float *p, V re, V im) { vst2_f32(p, (float32x2x2_t{{re, im}})); }
    static void transpose(V *r)
    {
        const float32x2x2_t t = vtrn_f32(r[0], r[1]);
        r[0] = t.val[0];
        r[1] = t.val[1];
    }
    static V reverse(V v) { return vrev64_f32(v); }
};

} // namespace dsplib::simd

#endif
