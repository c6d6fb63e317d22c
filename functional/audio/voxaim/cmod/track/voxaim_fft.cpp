// The engine's complex and real transforms (see voxaim_fft.h).
#include "functional/audio/voxaim/cmod/track/voxaim_fft.h"

#include "functional/audio/libraries/dsplib/arm/cfft_pow2_conjpair_splitrad_c89_neon.h"
#include "functional/audio/voxaim/cmod/track/voxaim_kernels.h"

#include <cmath>

extern "C" void splitIfftBand(int n, const float *S, int band, const float *A, const float *B, float *G)
{
    voxaim::kernels().splitInverseBand(n, S, band, A, B, G);
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
    voxaim::kernels().splitForward(n, X, A, B, G);
    G[2 * n] = X[0] - X[1];
    G[2 * n + 1] = 0.0f;
}

// V[k] = S[k] conj(A[k]) + conj(S[n-k]) conj(B[k]), k = 0 .. n-1.
extern "C" void splitIfft(int n, const float *S, const float *A, const float *B, float *G)
{
    if (n >= 1)
        voxaim::kernels().splitInverse(n, S, A, B, G);
}
