// Complex FFT drivers. Provisional radix-2 body: the split-radix kernels
// replace it; the checks and the entry points are final.
#include "functional/audio/libraries/dsplib/arm/cfft_pow2_conjpair_splitrad_c89_neon.h"

#include <cassert>
#include <cmath>
#include <cstdint>

namespace {

void radix2(int N, const float *x, float *y, bool inverse)
{
    for (int i = 0, j = 0; i < N; ++i) {
        y[2 * j] = x[2 * i];
        y[2 * j + 1] = x[2 * i + 1];
        int bit = N >> 1;
        for (; bit > 0 && (j & bit); bit >>= 1)
            j ^= bit;
        j |= bit;
    }
    const double sign = inverse ? 1.0 : -1.0;
    for (int len = 2; len <= N; len <<= 1) {
        for (int k = 0; k < len / 2; ++k) {
            const double a = sign * 2.0 * M_PI * k / len;
            const float c = static_cast<float>(std::cos(a)), s = static_cast<float>(std::sin(a));
            for (int i = k; i < N; i += len) {
                float *u = y + 2 * i, *v = y + 2 * (i + len / 2);
                const float tr = v[0] * c - v[1] * s, ti = v[0] * s + v[1] * c;
                v[0] = u[0] - tr;
                v[1] = u[1] - ti;
                u[0] += tr;
                u[1] += ti;
            }
        }
    }
    if (inverse)
        for (int i = 0; i < 2 * N; ++i)
            y[i] *= 1.0f / static_cast<float>(N);
}

}  // namespace

extern "C" void cfft_pow2_conjpair_splitrad_c89(int N, int log2_N, const float *x, float *y)
{
    assert(N <= FFT_MAX);
    if (N > 0)
        assert(N <= 0 || N == 1 << log2_N);
    assert((uintptr_t)x % 8 == 0);
    assert((uintptr_t)y % 8 == 0);
    if (N > 0)
        radix2(N, x, y, false);
}

extern "C" void cifft_pow2_conjpair_splitrad_c89(int N, int log2_N, const float *x, float *y)
{
    assert(N <= FFT_MAX);
    if (N > 0)
        assert(N <= 0 || N == 1 << log2_N);
    assert((uintptr_t)x % 8 == 0);
    assert((uintptr_t)y % 8 == 0);
    if (N > 0)
        radix2(N, x, y, true);
}

extern "C" void sp_fftSPxSP(int N, const float *x, const float *, float *y, const unsigned char *, int, int, int)
{
    cfft_pow2_conjpair_splitrad_c89(N, N > 0 ? __builtin_ctz(N) : 0, x, y);
}

extern "C" void sp_ifftSPxSP(int N, const float *x, const float *, float *y, const unsigned char *, int, int, int)
{
    cifft_pow2_conjpair_splitrad_c89(N, N > 0 ? __builtin_ctz(N) : 0, x, y);
}
