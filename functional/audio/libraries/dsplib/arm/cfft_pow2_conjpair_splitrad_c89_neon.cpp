// Complex FFT drivers: checks, the dedicated small sizes, and the general
// transform (cfft_algorithm.h) of the variant chosen for the size.
#include "functional/audio/libraries/dsplib/arm/cfft_pow2_conjpair_splitrad_c89_neon.h"

#include "functional/audio/libraries/dsplib/arm/cfft_tables.h"
#include "functional/audio/libraries/dsplib/arm/variants.h"

#include <cassert>
#include <cstdint>

#define DSPLIB_VARIANT_NAMESPACE dsplib::cfft::scalar
#include "functional/audio/libraries/dsplib/arm/cfft_algorithm.h"

namespace dsplib::cfft {

namespace {

// Straight-line transforms of 2, 4, 8 and 16 points, interleaved in and out.
template <bool Inv>
void small(int N, const float *x, float *y)
{
    if (N == 2) {
        const float s = Inv ? 0.5f : 1.0f;
        const float r0 = x[0], i0 = x[1], r1 = x[2], i1 = x[3];
        y[0] = (r0 + r1) * s;
        y[1] = (i0 + i1) * s;
        y[2] = (r0 - r1) * s;
        y[3] = (i0 - i1) * s;
        return;
    }
    if (N == 4) {
        const float s = Inv ? 0.25f : 1.0f;
        const float s02r = x[0] + x[4], s02i = x[1] + x[5], d02r = x[0] - x[4], d02i = x[1] - x[5];
        const float s13r = x[2] + x[6], s13i = x[3] + x[7], d13r = x[2] - x[6], d13i = x[3] - x[7];
        const float j = Inv ? -1.0f : 1.0f; // bin 1 = d02 -+ j d13
        y[0] = (s02r + s13r) * s;
        y[1] = (s02i + s13i) * s;
        y[2] = (d02r + j * d13i) * s;
        y[3] = (d02i - j * d13r) * s;
        y[4] = (s02r - s13r) * s;
        y[5] = (s02i - s13i) * s;
        y[6] = (d02r - j * d13i) * s;
        y[7] = (d02i + j * d13r) * s;
        return;
    }
    // N = 8: one leaf; N = 16: two leaves (even and odd samples) and a
    // radix-2 step with t_16.
    const float scale = 1.0f / static_cast<float>(N);
    const int stride = N / 8;
    float er[8], ei[8], orr[8], oi[8];
    for (int h = 0; h < stride; ++h) {
        const auto in = [&](int m, float &re, float &im) {
            re = x[2 * (h + stride * m)];
            im = x[2 * (h + stride * m) + 1];
        };
        scalar::leaf8<Inv>(in, h ? orr : er, h ? oi : ei, 0.70710677f, scale);
    }
    if (N == 8) {
        for (int k = 0; k < 8; ++k) {
            y[2 * k] = er[k];
            y[2 * k + 1] = ei[k];
        }
        return;
    }
    for (int k = 0; k < 8; ++k) {
        // W_16^k O[k] = conj(t_16[k]) O[k] forward, t_16[k] O[k] inverse.
        const float c = w_nl[k / 2 * 4 + k % 2], s = Inv ? w_nl[k / 2 * 4 + 2 + k % 2] : -w_nl[k / 2 * 4 + 2 + k % 2];
        const float tr = c * orr[k] - s * oi[k], ti = c * oi[k] + s * orr[k];
        y[2 * k] = er[k] + tr;
        y[2 * k + 1] = ei[k] + ti;
        y[2 * k + 16] = er[k] - tr;
        y[2 * k + 17] = ei[k] - ti;
    }
}

template <bool Inv>
void run(int N, int log2_N, const float *x, float *y)
{
    if (N <= 0)
        return;
    if (N == 1) {
        y[0] = x[0];
        y[1] = x[1];
    } else if (N < 32) {
        small<Inv>(N, x, y);
    } else {
        const Variant &v = cfftVariantFor(N);
        (Inv ? v.cfftInverse : v.cfftForward)(N, log2_N, x, y);
    }
}

} // namespace

} // namespace dsplib::cfft

// A log2_N outside 0..30 cannot describe a valid size; it is clamped to 31
// (1 << 31 is negative) so that the size check fails without an undefined
// shift.
static int checkedLog2(int log2_N) { return log2_N >= 0 && log2_N <= 30 ? log2_N : 31; }

extern "C" void cfft_pow2_conjpair_splitrad_c89(int N, int log2N, const float *x, float *y)
{
    const int log2_N = checkedLog2(log2N);
    assert(N <= FFT_MAX);
    assert(N <= 0 || N == 1 << log2_N);
    assert((uintptr_t)x % 8 == 0);
    assert((uintptr_t)y % 8 == 0);
    dsplib::cfft::run<false>(N, log2_N, x, y);
}

extern "C" void cifft_pow2_conjpair_splitrad_c89(int N, int log2N, const float *x, float *y)
{
    const int log2_N = checkedLog2(log2N);
    assert(N <= FFT_MAX);
    assert(N <= 0 || N == 1 << log2_N);
    assert((uintptr_t)x % 8 == 0);
    assert((uintptr_t)y % 8 == 0);
    dsplib::cfft::run<true>(N, log2_N, x, y);
}

extern "C" void cifft_pow2_band_window(int N, int log2N, const float *x, float *y, int band, int head, int tail)
{
    const int log2_N = checkedLog2(log2N);
    assert(N <= FFT_MAX);
    assert(N <= 0 || N == 1 << log2_N);
    assert((uintptr_t)x % 8 == 0);
    assert((uintptr_t)y % 8 == 0);
    if (N < 32) {
        dsplib::cfft::run<true>(N, log2_N, x, y);
        return;
    }
    const auto clamp = [N](int v) { return v < 0 ? 0 : v > N ? N : v; };
    dsplib::cfftVariantFor(N).cfftInverseWindow(N, log2_N, x, y, clamp(band), clamp(head), clamp(tail));
}

// log2 N is the number of trailing zero bits of N.
static int trailingZeros(int N) { return N > 0 ? __builtin_ctz(static_cast<unsigned>(N)) : 0; }

extern "C" void sp_fftSPxSP(int N, const float *x, const float * /*w*/, float *y, const unsigned char * /*brev*/,
                            int /*n_min*/, int /*offset*/, int /*n_max*/)
{
    cfft_pow2_conjpair_splitrad_c89(N, trailingZeros(N), x, y);
}

extern "C" void sp_ifftSPxSP(int N, const float *x, const float * /*w*/, float *y, const unsigned char * /*brev*/,
                             int /*n_min*/, int /*offset*/, int /*n_max*/)
{
    cifft_pow2_conjpair_splitrad_c89(N, trailingZeros(N), x, y);
}
