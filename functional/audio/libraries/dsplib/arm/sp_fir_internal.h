// The FIR filter bodies behind the public entry points (sp_fir_neon.h), over
// the kernels of any variant (variants.h): library-internal, for the entry
// points, tests and benchmarks.
#pragma once

#include "functional/audio/libraries/dsplib/arm/variants.h"

namespace sp_fir {

// Arguments as for the public functions, except that firGenDownsample and
// firFilterDownsample expect step > 0 and 0 <= begin < step already checked
// (the public functions assert them).
void firGen(const dsplib::Variant &k, const float *x, const float *h, float *y, int nh, int ny);
void firGenDownsample(const dsplib::Variant &k, const float *x, const float *h, float *y, int nh, int ny, int step);
int firFilter(const dsplib::Variant &k, const float *x, const float *h, float *d, int pos, float *y, int nh, int ny);
int firFilterDownsample(const dsplib::Variant &k, const float *x, const float *h, float *d, int pos, float *y, int nh,
                        int ny, int *phase, int begin, int step);

// The delay-line update of both streaming filters (pos already in [0, nh),
// nh >= 1, ny >= 1); returns the new position.
int update_delay_line(const float *x, float *d, int pos, int nh, int ny);

} // namespace sp_fir
