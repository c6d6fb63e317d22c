// FIR filters on single-precision float signals: block or streaming, with or
// without decimation.
//
// Coefficients h[0 .. nh-1] are applied in correlation order: h[0] multiplies
// the oldest sample of the window, h[nh-1] the newest (pass an impulse
// response time-reversed). nh, ny and step are signed; zero or negative
// counts are not errors (see each function). No function allocates; inputs
// need no alignment; y must not overlap x, h or d.
//
// Streaming state: a caller-owned delay line d of nh floats and a position
// pos in [0, nh) that the streaming functions return and the caller passes
// back. d[pos], d[pos+1], ..., d[pos-2] (indices mod nh) hold the nh - 1 most
// recent input samples, oldest first. An all-zero d with pos 0 is a zero
// history. A signal cut into blocks of any size gives the outputs of filtering
// it in one piece (up to rounding).
#pragma once

#ifdef __cplusplus
extern "C" {
#endif

// Block filter: y[i] = sum_j h[j] x[i + j] for i = 0 .. ny-1; x holds
// ny + nh - 1 samples. ny <= 0: nothing written; nh <= 0: y[0 .. ny-1] = 0.
void sp_fir_gen(const float *x, const float *h, float *y, int nh, int ny);

// Block filter keeping every step-th output: y[m] = sum_j h[j] x[m step + j]
// for m = 0 .. (ny-1)/step, (ny-1)/step + 1 outputs; x holds ny + nh - 1
// samples. ny <= 0: nothing; step <= 0: fatal assertion "step > 0";
// step 1: sp_fir_gen; nh <= 0: the outputs are 0.
void sp_fir_gen_downsample(const float *x, const float *h, float *y, int nh, int ny, int step);

// Streaming filter over ny new samples x[0 .. ny-1]: y[i] is the output whose
// window ends at x[i], reaching back into d for i < nh - 1. Updates d and
// returns the new position. pos outside [0, nh) is first reduced mod nh.
// ny <= 0: returns pos unchanged, writes nothing; nh <= 0: y[0 .. ny-1] = 0,
// pos returned unchanged.
int sp_fir_filter(const float *x, const float *h, float *d, int pos, float *y, int nh, int ny);

// Streaming filter keeping the outputs at positions begin, begin + step, ...
// < ny of this block, where begin = *phase (0 if phase is null):
// y[m] = output at begin + m step. Updates d, stores in *phase the offset of
// the next kept position in the next block, and returns the new position.
// ny <= 0: returns pos at once (nothing checked). Fatal assertions
// "step > 0" and "begin >= 0 && begin < step". step 1: sp_fir_filter, *phase
// untouched. nh <= 0: the kept outputs are 0, pos returned unchanged.
int sp_fir_filter_downsample(const float *x, const float *h, float *d, int pos, float *y, int nh, int ny, int *phase,
                             int step);

// The engine's FIR entry: sp_fir_gen with the same arguments.
void voxaim_firFilter(const float *x, const float *h, float *y, int nh, int ny);

#ifdef __cplusplus
}
#endif
