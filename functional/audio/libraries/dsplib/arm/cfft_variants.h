#ifndef FUNCTIONAL_AUDIO_LIBRARIES_DSPLIB_ARM_CFFT_VARIANTS_H
#define FUNCTIONAL_AUDIO_LIBRARIES_DSPLIB_ARM_CFFT_VARIANTS_H
// The builds of the general (N >= 32) transform for each vector layer, for
// the drivers' dispatch and for tests and benchmarks that compare them.
#include <span>

namespace dsplib::cfft {

using TransformFn = void (*)(int N, int log2N, const float *x, float *y);

struct Variant {
    const char *name; // "portable", "neon", "sse2", "avx2"
    int minN;         // smallest size it handles (its lanes need N/16 leaf pairs)
    TransformFn forward;
    TransformFn inverse;
};

// Variants compiled into this build that the processor can run, the
// portable reference first.
std::span<const Variant> variants();

// The variant the drivers use for size N (N >= 32).
const Variant &variantFor(int N);

// One variant per translation unit (nullptr when not built for this target;
// the AVX2 one must only be run after checking the processor).
const Variant *portableVariant();
const Variant *neonVariant();
const Variant *sse2Variant();
const Variant *avx2Variant();

} // namespace dsplib::cfft

#endif
