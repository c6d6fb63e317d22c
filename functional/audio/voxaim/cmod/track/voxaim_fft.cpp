// The engine's complex and real transforms (see voxaim_fft.h).
#include "functional/audio/voxaim/cmod/track/voxaim_fft.h"

#include "functional/audio/libraries/dsplib/arm/cfft_pow2_conjpair_splitrad_c89_neon.h"

#include <cmath>

// The split steps run on the widest vector layer the target always has.
#if defined(__ARM_NEON)
#include "functional/audio/libraries/dsplib/arm/simd_neon.h"
using SplitSimd = dsplib::simd::Neon;
#elif defined(__SSE2__)
#include "functional/audio/libraries/dsplib/arm/simd_sse2.h"
using SplitSimd = dsplib::simd::Sse2;
#else
#include "functional/audio/libraries/dsplib/arm/simd_portable.h"
using SplitSimd = dsplib::simd::Portable;
#endif

namespace {

// One float per lane: the scalar steps for the bins left over after the
// vector loop.
struct Scalar {
    using V = float;
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
    static V mla(V acc, V a, V b) { return acc + a * b; }
    static V mls(V acc, V a, V b) { return acc - a * b; }
};

// Bins k .. k+L-1 of a split step. Z holds the bins k.., and M the bins
// n-k-L+1 .. n-k (reversed here so that lane i pairs bin k+i with n-k-i).
// Forward:  G[k] = Z[k] A[k] + conj(Z[n-k]) B[k]
// Inverse:  G[k] = Z[k] conj(A[k]) + conj(Z[n-k]) conj(B[k])
template <class S, bool Inverse>
inline void splitBins(const float *Z, const float *M, const float *A, const float *B, float *G)
{
    typename S::V zr, zi, mr, mi, ar, ai, br, bi;
    S::load2(Z, zr, zi);
    S::load2(M, mr, mi);
    mr = S::reverse(mr);
    mi = S::reverse(mi);
    S::load2(A, ar, ai);
    S::load2(B, br, bi);
    // Left to right as written above, each product rounded before it is
    // added (mla and mls never fuse).
    if constexpr (!Inverse)
        S::store2(G, S::mla(S::mla(S::mls(zr * ar, zi, ai), mr, br), mi, bi),
                  S::mls(S::mla(S::mla(zi * ar, zr, ai), mr, bi), mi, br));
    else
        S::store2(G, S::mls(S::mla(S::mla(zr * ar, zi, ai), mr, br), mi, bi),
                  S::mls(S::mls(S::mls(zi * ar, zr, ai), mr, bi), mi, br));
}

template <bool Inverse>
void splitAll(int n, const float *Z, const float *A, const float *B, float *G)
{
    constexpr int L = SplitSimd::L;
    int k = 0;
    // Walking pointers, so that ARM code can use post-incrementing loads.
    const float *z = Z, *m = Z + 2 * (n - L + 1), *a = A, *b = B;
    float *g = G;
    for (; k + L <= n; k += L, z += 2 * L, m -= 2 * L, a += 2 * L, b += 2 * L, g += 2 * L)
        splitBins<SplitSimd, Inverse>(z, m, a, b, g);
    for (; k < n; ++k)
        splitBins<Scalar, Inverse>(Z + 2 * k, Z + 2 * (n - k), A + 2 * k, B + 2 * k, G + 2 * k);
}

// The inverse split of a spectrum S that is zero above bin `band`: where one
// of the two bins splitBins combines is zero, the same products rounded and
// added in the same order without the zero ones.
//   G[k]   = S[k] conj(A[k])                 k = 0 .. band
//   G[n-k] = conj(S[k]) conj(B[n-k])         k = 1 .. band
// splitUpper runs over i = n - k ascending, reading S[n-i-L+1 .. n-i]
// reversed so that lane j pairs i + j with n - i - j.
template <class S>
inline void splitLower(const float *Sk, const float *A, float *G)
{
    typename S::V sr, si, ar, ai;
    S::load2(Sk, sr, si);
    S::load2(A, ar, ai);
    S::store2(G, S::mla(sr * ar, si, ai), S::mls(si * ar, sr, ai));
}

template <class S>
inline void splitUpper(const float *M, const float *B, float *G)
{
    typename S::V mr, mi, br, bi;
    S::load2(M, mr, mi);
    mr = S::reverse(mr);
    mi = S::reverse(mi);
    S::load2(B, br, bi);
    S::store2(G, S::mls(mr * br, mi, bi), S::mls(S::mls(typename S::V{}, mr, bi), mi, br));
}

} // namespace

extern "C" void splitIfftBand(int n, const float *S, int band, const float *A, const float *B, float *G)
{
    constexpr int L = SplitSimd::L;
    int k = 0;
    for (; k + L <= band + 1; k += L)
        splitLower<SplitSimd>(S + 2 * k, A + 2 * k, G + 2 * k);
    for (; k <= band; ++k)
        splitLower<Scalar>(S + 2 * k, A + 2 * k, G + 2 * k);
    int i = n - band;
    for (; i + L <= n; i += L)
        splitUpper<SplitSimd>(S + 2 * (n - i - L + 1), B + 2 * i, G + 2 * i);
    for (; i < n; ++i)
        splitUpper<Scalar>(S + 2 * (n - i), B + 2 * i, G + 2 * i);
}

extern "C" void voxaim_realIfftWindow(int N, const float *S, int band, const float *A, const float *B, float *V,
                                      float *out, int head, int tail)
{
    const int n = N / 2;
    splitIfftBand(n, S, band, A, B, V);
    // Sample t is the real (t even) or imaginary part of complex value t / 2.
    cifft_pow2_band_window(n, __builtin_ctz(static_cast<unsigned>(n)), V, out, band, (head + 1) / 2, (tail + 1) / 2);
}

extern "C" void voxaim_generateAbTables(float *A, float *B, int n)
{
    if (n <= 0)
        return;
    A[0] = 0.5f;
    A[1] = -0.5f;
    B[0] = 0.5f;
    B[1] = 0.5f;
    const double step = 6.283185307179586 / static_cast<double>(2 * n);
    for (int k = 1; k < n; ++k) {
        const double theta = static_cast<double>(k) * step;
        const double s = std::sin(theta), c = std::cos(theta);
        A[2 * k] = static_cast<float>(0.5 * (1.0 - s));
        A[2 * k + 1] = static_cast<float>(-0.5 * c);
        B[2 * k] = static_cast<float>(0.5 * (1.0 + s));
        B[2 * k + 1] = static_cast<float>(0.5 * c);
    }
}

// The bit-reversal table argument is never read by the transform; nullptr
// stands in for it.
extern "C" void voxaim_fft(int N, const float *x, const float *w, float *y, int n_min)
{
    sp_fftSPxSP(N, x, w, y, nullptr, n_min, 0, N);
}

extern "C" void voxaim_ifft(int N, const float *x, const float *w, float *y, int n_min)
{
    sp_ifftSPxSP(N, x, w, y, nullptr, n_min, 0, N);
}

extern "C" void voxaim_realFft(int N, const float *x, const float *w, float *out, int n_min, const float *A,
                               const float *B, float *scratch)
{
    const int n = N / 2;
    voxaim_fft(n, x, w, scratch, n_min);
    splitFft(n, scratch, A, B, out);
}

extern "C" void voxaim_realIfft(int N, float *S, const float *w, float *y, int n_min, const float *A, const float *B)
{
    const int n = N / 2;
    splitIfft(n, S, A, B, y);
    voxaim_ifft(n, y, w, S, n_min);
}

// G[k] = Z[k] A[k] + conj(Z[n-k]) B[k], k = 0 .. n-1, with Z[n] = Z[0];
// G[n] = (Re Z[0] - Im Z[0], 0).
extern "C" void splitFft(int n, float *X, const float *A, const float *B, float *G)
{
    if (n < 1)
        return;
    X[2 * n] = X[0];
    X[2 * n + 1] = X[1];
    splitAll<false>(n, X, A, B, G);
    G[2 * n] = X[0] - X[1];
    G[2 * n + 1] = 0.0f;
}

// V[k] = S[k] conj(A[k]) + conj(S[n-k]) conj(B[k]), k = 0 .. n-1.
extern "C" void splitIfft(int n, const float *S, const float *A, const float *B, float *G)
{
    if (n >= 1)
        splitAll<true>(n, S, A, B, G);
}
