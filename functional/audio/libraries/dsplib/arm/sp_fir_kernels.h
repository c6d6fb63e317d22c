// Code paths of the FIR kernels and the filter bodies written over them
// (library-internal; the public interface is sp_fir_neon.h).
//
// Every variant provides the same two kernels (sp_fir_kernel.h). The public
// entry points use activeKernels(): NEON on ARM, AVX2 on x86-64 machines that
// have it, the portable code elsewhere. Tests and benchmarks run
// each available variant through the same filter bodies.
#pragma once

#include <span>

namespace sp_fir {

struct FirKernels {
    const char *name;
    // Block kernel: nh >= 1, ny >= 1.
    void (*gen)(const float *x, const float *h, float *y, int nh, int ny);
    // Decimating kernel: nh >= 1, ny >= 1, step >= 1.
    void (*genDownsample)(const float *x, const float *h, float *y, int nh, int ny, int step);
};

// Variants; each returns null where it is not compiled in or the processor
// lacks it. The portable one is always there.
const FirKernels &portableKernels();
const FirKernels *neonKernels();
const FirKernels *avx2Kernels();
// The AVX2 table itself, without the processor check (null when not built).
const FirKernels *avx2KernelTable();

// Every variant this machine runs, the portable one first.
std::span<const FirKernels *const> availableKernels();
// The variant behind the public entry points.
const FirKernels &activeKernels();

// The filter bodies. Arguments as for the public functions, except that
// firFilterDownsample expects step > 0 and 0 <= begin < step already checked
// (the public function asserts them).
void firGen(const FirKernels &k, const float *x, const float *h, float *y, int nh, int ny);
void firGenDownsample(const FirKernels &k, const float *x, const float *h, float *y, int nh, int ny, int step);
int firFilter(const FirKernels &k, const float *x, const float *h, float *d, int pos, float *y, int nh, int ny);
int firFilterDownsample(const FirKernels &k, const float *x, const float *h, float *d, int pos, float *y, int nh,
                        int ny, int *phase, int begin, int step);

// The delay-line update of both streaming filters (pos already in [0, nh),
// nh >= 1, ny >= 1); returns the new position.
int update_delay_line(const float *x, float *d, int pos, int nh, int ny);

} // namespace sp_fir
