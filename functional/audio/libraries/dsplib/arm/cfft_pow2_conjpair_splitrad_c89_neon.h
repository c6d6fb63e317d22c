#ifndef FUNCTIONAL_AUDIO_LIBRARIES_DSPLIB_ARM_CFFT_POW2_CONJPAIR_SPLITRAD_C89_NEON_H
#define FUNCTIONAL_AUDIO_LIBRARIES_DSPLIB_ARM_CFFT_POW2_CONJPAIR_SPLITRAD_C89_NEON_H
/*
 * Complex single-precision FFT of power-of-two sizes 1 .. FFT_MAX.
 *
 * Data: N complex values, each two floats (real part first), natural order
 * at both ends. Out of place: x is only read, y receives the result and is
 * the whole transform's workspace, so x and y must not overlap. Both must be
 * 8-byte aligned. Nothing is allocated; there is no state, so calls on
 * different buffers may run concurrently.
 *
 * Forward:  Y[k] = sum_n x[n] e^(-j 2 pi n k / N)           (unscaled)
 * Inverse:  y[n] = (1/N) sum_k X[k] e^(+j 2 pi n k / N)
 *
 * Broken preconditions are fatal assertions, checked in this order:
 *   "N <= FFT_MAX", "N <= 0 || N == 1 << log2_N" (only for N > 0),
 *   "(uintptr_t)x % 8 == 0", "(uintptr_t)y % 8 == 0".
 * N <= 0 writes nothing.
 */
#ifdef __cplusplus
extern "C" {
#endif

enum { FFT_MAX = 8192 };

/*
 * Entry points with the argument list of a classic radix-4 FFT interface.
 * Only N, x and y are read: the twiddle table w, the bit-reversal table
 * brev, n_min, offset and n_max are accepted for compatibility and ignored
 * (twiddles are compiled in, the output needs no reordering). log2 N is
 * taken as the number of trailing zero bits of N, so a size that is not a
 * power of two fails the size assertion.
 */
void sp_fftSPxSP(int N, const float *x, const float *w, float *y, const unsigned char *brev, int n_min, int offset,
                 int n_max);
void sp_ifftSPxSP(int N, const float *x, const float *w, float *y, const unsigned char *brev, int n_min, int offset,
                  int n_max);

/* Forward and inverse drivers: N must equal 1 << log2_N (or be <= 0). */
void cfft_pow2_conjpair_splitrad_c89(int N, int log2_N, const float *x, float *y);
void cifft_pow2_conjpair_splitrad_c89(int N, int log2_N, const float *x, float *y);

/*
 * The inverse transform of a band-limited input, wanted only in a window:
 * x must be zero at every k with band < k < N - band (those elements may
 * be read), and only y[m] for m < head and m >= N - tail are computed, with
 * the values the inverse driver gives them. Every other element of y is
 * left unspecified. The checks are those of the drivers; negative band,
 * head or tail are taken as 0.
 */
void cifft_pow2_band_window(int N, int log2_N, const float *x, float *y, int band, int head, int tail);

#ifdef __cplusplus
}
#endif

#endif
