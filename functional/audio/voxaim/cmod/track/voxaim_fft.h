#ifndef FUNCTIONAL_AUDIO_VOXAIM_CMOD_TRACK_VOXAIM_FFT_H
#define FUNCTIONAL_AUDIO_VOXAIM_CMOD_TRACK_VOXAIM_FFT_H
/*
 * The engine's transforms: complex FFTs and N-point real FFTs done with an
 * N/2-point complex FFT plus a split step driven by the tables A and B.
 *
 * Layouts. A complex value is two floats, real part first. A real signal of
 * N samples is read as n = N/2 complex values z[m] = (x[2m], x[2m+1]). Its
 * half-spectrum is n + 1 bins, k = 0 .. n, natural order: bin 0 is DC (its
 * imaginary part zero up to rounding), bin n is Nyquist (imaginary part
 * exactly 0.0). The mirrored bins n+1 .. N-1 are never stored: bin N-k is
 * the conjugate of bin k.
 *
 * Scaling: forward transforms are unscaled, inverses scale by 1/N, so
 * voxaim_realIfft(voxaim_realFft(x)) returns x up to rounding.
 *
 * Every buffer handed to the complex transform must be 8-byte aligned and
 * hold at most FFT_MAX (8192) complex points; broken preconditions are fatal
 * assertions of the complex FFT. The twiddle pointer w and n_min are kept in
 * the argument lists for compatibility and are not read.
 */
#ifdef __cplusplus
extern "C" {
#endif

/*
 * Fills the split tables for N = 2n: with theta_k = pi k / n,
 *   A[k] = (0.5 (1 - sin theta_k), -0.5 cos theta_k)
 *   B[k] = (0.5 (1 + sin theta_k),  0.5 cos theta_k)
 * in double precision, each entry rounded to float; A[0] = (0.5, -0.5) and
 * B[0] = (0.5, 0.5) exactly. A and B receive n complex entries each.
 * n <= 0 writes nothing.
 */
void voxaim_generateAbTables(float *A, float *B, int n);

/* N-point forward complex FFT from x to y (x and y must not overlap). */
void voxaim_fft(int N, const float *x, const float *w, float *y, int n_min);
/* N-point inverse complex FFT from x to y, scaled by 1/N. */
void voxaim_ifft(int N, const float *x, const float *w, float *y, int n_min);

/*
 * Forward real FFT of the N samples x (N even, N/2 <= 8192) into the n + 1
 * bins of out, n = N/2. scratch must hold n + 1 complex values and must not
 * overlap x or out. x is not modified. A and B are the tables generated for n.
 */
void voxaim_realFft(int N, const float *x, const float *w, float *out, int n_min, const float *A, const float *B,
                    float *scratch);

/*
 * Inverse real FFT: S holds the n + 1 bins of a half-spectrum (n = N/2) on
 * entry and the N real samples on exit (scaled by 1/N). y is scratch of n
 * complex values and is left holding the split values. The imaginary parts
 * of bins 0 and n are expected to be 0; nonzero values are not cleared.
 */
void voxaim_realIfft(int N, float *S, const float *w, float *y, int n_min, const float *A, const float *B);

/*
 * The inverse real FFT of a band-limited half-spectrum, wanted only near
 * sample 0: S holds bins 0 .. band of the n + 1 (n = N/2) bins, the bins
 * above band being zero (band < n/4, bins 0 .. band are read). Writes the N
 * real samples t < head and t >= N - tail of the inverse (scaled by 1/N,
 * the values voxaim_realIfft gives them) into out (N floats, 8-byte
 * aligned; its other samples are left unspecified). V is scratch of n
 * complex values whose elements band < k < n - band must be zero; they are
 * never written, so a buffer zero-filled once serves every call.
 */
void voxaim_realIfftWindow(int N, const float *S, int band, const float *A, const float *B, float *V, float *out,
                           int head, int tail);

/*
 * The inverse split for such a half-spectrum: the values splitIfft gives,
 * written only at the non-zero elements k <= band and k >= n - band of G.
 */
void splitIfftBand(int n, const float *S, int band, const float *A, const float *B, float *G);

/*
 * Forward split: from the n-point complex spectrum X of z[m] = x[2m] + j
 * x[2m+1] to the n + 1 bins G of the real signal's spectrum. Writes
 * X[n] := X[0] first, so X must hold n + 1 values. G must not overlap X.
 */
void splitFft(int n, float *X, const float *A, const float *B, float *G);

/*
 * Inverse split: from the n + 1 bins S (bin n read as given) to the n
 * complex values G whose inverse n-point FFT is the real signal. n < 1
 * writes nothing. G must not overlap S.
 */
void splitIfft(int n, const float *S, const float *A, const float *B, float *G);

#ifdef __cplusplus
}
#endif

#endif
