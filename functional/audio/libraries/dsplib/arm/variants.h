#ifndef FUNCTIONAL_AUDIO_LIBRARIES_DSPLIB_ARM_VARIANTS_H
#define FUNCTIONAL_AUDIO_LIBRARIES_DSPLIB_ARM_VARIANTS_H
// The library's one dispatcher. A variant is the build of every vector
// kernel (complex FFT, FIR) for one vector layer (simd_*.h), made by one
// variant_<layer>.cpp unit. The public entry points run the widest variant
// the processor has; tests and benchmarks run each of them.
#include <span>

namespace dsplib {

// The vector layers (simd_*.h); other modules that build their own loops
// on them for every layer choose among their builds by it.
enum class Layer { Portable, Neon, Sse2, Avx2 };

struct Variant {
    const char *name; // "portable", "neon", "sse2", "avx2"
    Layer layer;
    int lanes;
    // The general complex transform (cfft_algorithm.h) of N = 1 << log2N
    // points, N >= cfftMinN (the lanes need N/16 leaf pairs).
    int cfftMinN;
    void (*cfftForward)(int N, int log2N, const float *x, float *y);
    void (*cfftInverse)(int N, int log2N, const float *x, float *y);
    // The inverse of an input that is zero outside the band k <= band,
    // k >= N - band, wanted only at the outputs m < head and m >= N - tail
    // (cifft_pow2_band_window).
    void (*cfftInverseWindow)(int N, int log2N, const float *x, float *y, int band, int head, int tail);
    // The FIR kernels (sp_fir_algorithm.h): nh >= 1, ny >= 1, step >= 1.
    void (*firGen)(const float *x, const float *h, float *y, int nh, int ny);
    void (*firGenDownsample)(const float *x, const float *h, float *y, int nh, int ny, int step);
};

// The variants compiled into this build that the processor runs: the
// portable reference first, the widest last.
std::span<const Variant> variants();

// The widest variant: the one behind the FIR entry points, and the layer
// that other modules' loops run on.
const Variant &widestVariant();
const Variant &firVariant();

// The variant behind the complex FFT drivers for size N >= 32: the widest
// whose lanes the size can fill.
const Variant &cfftVariantFor(int N);

// One variant per unit; nullptr where it is not built for this target. The
// AVX2 one must only be run after checking the processor (variants() does).
const Variant *portableVariant();
const Variant *neonVariant();
const Variant *sse2Variant();
const Variant *avx2Variant();

} // namespace dsplib

#endif
